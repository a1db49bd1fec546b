<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>Velmora</name>
    <message>
        <source>载入启动窗口失败</source>
        <translation>Could not create the main window</translation>
    </message>
    <message>
        <source>开启</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>保存失败，请检查路径或文件是否被占用。</source>
        <translation>Saving failed. Check the path, and whether another program holds the file.</translation>
    </message>
    <message>
        <source>配置保存在 %1</source>
        <translation>Table kept in %1</translation>
    </message>
    <message>
        <source>无法保存配置到 %1，也无法另存，本次修改未能保存。</source>
        <translation>Could not save the table to %1, nor anywhere else; the changes of this session are lost.</translation>
    </message>
    <message>
        <source>无法保存配置到 %1，已另存到 %2</source>
        <translation>Could not save the table to %1; saved it to %2 instead</translation>
    </message>
    <message>
        <source>保存成功！</source>
        <translation>Saved!</translation>
    </message>
    <message>
        <source>Velmora-自定义设备版</source>
        <translation>Velmora - Custom Device Edition</translation>
    </message>
    <message>
        <source>十六进制数据长度必须是偶数</source>
        <translation>Hex data must have an even number of digits</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>无效的十六进制字符: %1</source>
        <translation>Invalid hex character: %1</translation>
    </message>
    <message>
        <source>确认修改模块波特率</source>
        <translation>Change the module&apos;s baud rate?</translation>
    </message>
    <message>
        <source>修改波特率</source>
        <translation>Change baud rate</translation>
    </message>
    <message>
        <source>设置信息已发出</source>
        <translation>Settings sent</translation>
    </message>
    <message>
        <source>将从模块读取数据到配置软件，数据将被替换</source>
        <translation>The table will be replaced by the data read from the module.</translation>
    </message>
    <message>
        <source>读取模块</source>
        <translation>Read module</translation>
    </message>
    <message>
        <source>已发送读取指令</source>
        <translation>Read command sent</translation>
    </message>
    <message>
        <source>确认清空模块数据</source>
        <translation>Erase the module&apos;s data?</translation>
    </message>
    <message>
        <source>清空模块</source>
        <translation>Erase module</translation>
    </message>
    <message>
        <source>已发送清空指令</source>
        <translation>Erase command sent</translation>
    </message>
    <message>
        <source>请先打开端口</source>
        <translation>Open the port first</translation>
    </message>
    <message>
        <source>请输入数据</source>
        <translation>Enter the data first</translation>
    </message>
    <message>
        <source>已上报，请手机上点击按钮测试</source>
        <translation>Reported; press the button on the phone to test it</translation>
    </message>
    <message>
        <source>模块进入配置模式</source>
        <translation>Module entered configuration mode</translation>
    </message>
    <message>
        <source>模块退出配置模式</source>
        <translation>Module left configuration mode</translation>
    </message>
    <message>
        <source>开始从模块提取数据</source>
        <translation>Reading data from the module</translation>
    </message>
    <message>
        <source>数据提取完成</source>
        <translation>Data read complete</translation>
    </message>
    <message>
        <source>模块无应答</source>
        <translation>No answer from the module</translation>
    </message>
    <message>
        <source>位置在%1</source>
        <translation>Bad code at %1</translation>
    </message>
    <message>
        <source>确认写入自定义数据</source>
        <translation>Write the table into the module?</translation>
    </message>
    <message>
        <source>写入数据</source>
        <translation>Write data</translation>
    </message>
    <message>
        <source>端口已关闭</source>
        <translation>Port closed</translation>
    </message>
    <message>
        <source>设备不存在</source>
        <translation>no such device</translation>
    </message>
    <message>
        <source>端口被占用</source>
        <translation>in use by another program</translation>
    </message>
    <message>
        <source>没有权限，请将用户加入 dialout 组后重新登录</source>
        <translation>permission denied; add the user to the dialout group and log in again</translation>
    </message>
    <message>
        <source>系统拒绝打开</source>
        <translation>refused by the system</translation>
    </message>
    <message>
        <source>原因不明</source>
        <translation>reason unknown</translation>
    </message>
    <message>
        <source>无可用端口</source>
        <translation>No port available</translation>
    </message>
    <message>
        <source>端口打开失败: COM%1 %2</source>
        <translation>Could not open the port: COM%1 %2</translation>
    </message>
    <message>
        <source>端口打开失败%1</source>
        <translation>Could not open the port (code %1)</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>打开端口: %1 %2</source>
        <translation>Port opened: %1 %2</translation>
    </message>
    <message>
        <source>端口已断开: COM%1</source>
        <translation>Port disconnected: COM%1</translation>
    </message>
    <message>
        <source>厂商: %1</source>
        <translation>Vendor: %1</translation>
    </message>
    <message>
        <source>产品: %1</source>
        <translation>Product: %1</translation>
    </message>
    <message>
        <source>序列号: %1</source>
        <translation>Serial number: %1</translation>
    </message>
    <message>
        <source>无法找到指定DLL库文件中的输出命令“%1”</source>
        <translation>Cannot find the command “%1” in the given DLL</translation>
    </message>
    <message>
        <source>无法找到指定DLL库文件“%1”中的输出命令“%2”</source>
        <translation>Cannot find the command “%2” in the DLL “%1”</translation>
    </message>
    <message>
        <source>保存日志…</source>
        <translation>Save log…</translation>
    </message>
    <message>
        <source>设置波特率</source>
        <translation>Set baud rate</translation>
    </message>
    <message>
        <source>另存文件</source>
        <translation>Save as</translation>
    </message>
    <message>
        <source>写入模块</source>
        <translation>Write module</translation>
    </message>
    <message>
        <source>保存文件</source>
        <translation>Save file</translation>
    </message>
    <message>
        <source>打开文件</source>
        <translation>Open file</translation>
    </message>
    <message>
        <source>上报</source>
        <translation>Report</translation>
    </message>
    <message>
        <source>DIY生成的设备，长按需要学习的按钮，在倒计时结束前上报需要学习的数据。</source>
        <translation>DIY device: hold down the button to be learned, and report its data before the countdown ends.</translation>
    </message>
    <message>
        <source>清除→</source>
        <translation>Clear →</translation>
    </message>
    <message>
        <source>波特率:</source>
        <translation>Baud:</translation>
    </message>
    <message>
        <source>端口:</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>信息：</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>运行时出错!</source>
        <translation>Runtime error!</translation>
    </message>
    <message>
        <source>错误代码：%1</source>
        <translation>Error code: %1</translation>
    </message>
    <message>
        <source>错误信息：%1</source>
        <translation>Error message: %1</translation>
    </message>
    <message>
        <source>文本文件 (*.txt)</source>
        <translation>Text files (*.txt)</translation>
    </message>
    <message>
        <source>所有文件 (*)</source>
        <translation>All files (*)</translation>
    </message>
    <message>
        <source>日志保存失败：%1</source>
        <translation>Could not save the log: %1</translation>
    </message>
    <message>
        <source>没有这个端口: %1</source>
        <translation>No such port: %1</translation>
    </message>
    <message>
        <source>请选择波特率</source>
        <translation>Choose a baud rate</translation>
    </message>
    <message>
        <source>不支持的波特率: %1</source>
        <translation>Baud rate not supported: %1</translation>
    </message>
    <message>
        <source>%1 已在别处修改，保存前已备份为 %2</source>
        <translation>%1 was changed elsewhere; kept it as %2 before saving</translation>
    </message>
    <message>
        <source>%1 保存前已备份为 %2</source>
        <translation>Kept %1 as %2 before saving</translation>
    </message>
    <message>
        <source>模块波特率</source>
        <translation>Module baud rate</translation>
    </message>
    <message>
        <source>日志</source>
        <translation>Log</translation>
    </message>
    <message>
        <source>上报数据</source>
        <translation>Report data</translation>
    </message>
    <message>
        <source>配置表</source>
        <translation>Configuration table</translation>
    </message>
    <message>
        <source>有 %1 个代码可能有误，请重新读取</source>
        <translation>Codes that may be wrong: %1; read the module again</translation>
    </message>
    <message>
        <source>读取未完成，配置表已恢复为读取前的内容</source>
        <translation>Read not finished; the table is back as it was before the read</translation>
    </message>
    <message>
        <source>模块继续发送数据</source>
        <translation>The module is sending data again</translation>
    </message>
    <message>
        <source>空格把字节拆开了，写入模块时发送 %1</source>
        <translation>A blank splits a byte; writing sends %1</translation>
    </message>
    <message>
        <source>复制</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>粘贴</source>
        <translation>Paste</translation>
    </message>
    <message>
        <source>清除</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>撤销</source>
        <translation>Undo</translation>
    </message>
    <message>
        <source>重做</source>
        <translation>Redo</translation>
    </message>
    <message>
        <source>粘贴的内容超出表格范围，未粘贴</source>
        <translation>The pasted block reaches past the table; nothing pasted</translation>
    </message>
    <message>
        <source>粘贴的代码过长，未粘贴</source>
        <translation>A pasted code is too long; nothing pasted</translation>
    </message>
    <message>
        <source>显示时间</source>
        <translation>Show time</translation>
    </message>
    <message>
        <source>查找…</source>
        <translation>Find…</translation>
    </message>
    <message>
        <source>查找</source>
        <translation>Find</translation>
    </message>
    <message>
        <source>上一个</source>
        <translation>Previous</translation>
    </message>
    <message>
        <source>下一个</source>
        <translation>Next</translation>
    </message>
    <message>
        <source>找不到</source>
        <translation>Not found</translation>
    </message>
    <message>
        <source>无法载入 %1，未打开</source>
        <translation>Could not load %1; not opened</translation>
    </message>
    <message>
        <source>%1 保存失败：%2</source>
        <translation>Could not save %1: %2</translation>
    </message>
    <message>
        <source>文件名中有无法识别的字符，未保存：%1</source>
        <translation>The file name holds characters that could not be read; nothing was saved: %1</translation>
    </message>
    <message>
        <source>查找内容</source>
        <translation>Text to find</translation>
    </message>
    <message>
        <source>文件名中有无法识别的字符</source>
        <translation>its name holds characters that could not be read</translation>
    </message>
    <message>
        <source>文件大于 %1 MB</source>
        <translation>the file is larger than %1 MB</translation>
    </message>
    <message>
        <source>记录过多，需要超过 %1 MB 内存</source>
        <translation>its records would take more than %1 MB of memory</translation>
    </message>
    <message>
        <source>内存不足</source>
        <translation>not enough memory</translation>
    </message>
    <message>
        <source>无法载入 %1：%2，未打开</source>
        <translation>Could not load %1: %2; not opened</translation>
    </message>
    <message>
        <source>无法载入 %1：%2</source>
        <translation>Could not load %1: %2</translation>
    </message>
    <message>
        <source>模块波特率已设为 %1：下次操作前请关闭端口，在 波特率: 中选择 %1 后再打开</source>
        <translation>The module now runs at %1: before the next operation, close the port, choose %1 in Baud: and open it again</translation>
    </message>
    <message>
        <source>请检查 波特率: 是否与模块一致、端口是否选对、模块是否通电</source>
        <translation>Check that Baud: matches the module, that the port is the right one and that the module has power</translation>
    </message>
    <message>
        <source>写入完成，共发送 %1 个代码</source>
        <translation>Write finished: %1 codes sent</translation>
    </message>
    <message>
        <source>已发送 %1 个代码，但未收到模块退出配置模式的应答</source>
        <translation>%1 codes sent, but the module did not confirm leaving configuration mode</translation>
    </message>
    <message>
        <source>已发送 %1 个代码，模块无应答（线路上没有模块？）</source>
        <translation>%1 codes sent; no answer from the module (no module on the line?)</translation>
    </message>
    <message>
        <source>写入未完成：已发送 %1/%2 个代码，端口已断开</source>
        <translation>Write not finished: %1 of %2 codes sent, the port was disconnected</translation>
    </message>
    <message>
        <source>写入未完成：已发送 %1/%2 个代码，已停止</source>
        <translation>Write not finished: %1 of %2 codes sent, stopped</translation>
    </message>
    <message>
        <source>模块操作进行中，未打开 %1</source>
        <translation>A module operation is running; %1 not opened</translation>
    </message>
    <message>
        <source>模块操作进行中，未保存到 %1</source>
        <translation>A module operation is running; not saved to %1</translation>
    </message>
    <message>
        <source>有 %1 个代码可能有误，空白的单元格也可能漏了代码，请重新读取</source>
        <translation>Codes that may be wrong: %1, and empty cells may have missed their codes; read the module again</translation>
    </message>
    <message>
        <source>数据中有无法识别的字节，空白的单元格可能漏了代码，请重新读取</source>
        <translation>The data held bytes that were no record: empty cells may have missed their codes; read the module again</translation>
    </message>
    <message>
        <source>线路只把发出的数据原样送回，没有模块应答（环回或接线错误？）</source>
        <translation>The line only sends back what is sent on it; no module answered (a loopback or a wiring fault?)</translation>
    </message>
    <message>
        <source>读取模块时无法完整读回此代码（其中含 F4 F7 或模块应答的字节）</source>
        <translation>A read of the module cannot bring this code back whole (it holds F4 F7 or the bytes of a module&apos;s answer)</translation>
    </message>
    <message>
        <source>可能有误的代码：%1</source>
        <translation>Codes that may be wrong: %1</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>模块中可能只有部分代码，也可能仍在配置模式；端口恢复后请重新写入</source>
        <translation>The module may hold part of the table and may still be in configuration mode; write again once the port is back</translation>
    </message>
    <message>
        <source> …另有 %1 个</source>
        <translation> … and %1 more</translation>
    </message>
    <message>
        <source>模块中为空</source>
        <translation>Empty in the module</translation>
    </message>
    <message>
        <source>模块中为 %1</source>
        <translation>In the module: %1</translation>
    </message>
    <message>
        <source>表中不是代码</source>
        <translation>Not a code in the table</translation>
    </message>
    <message>
        <source>模块的应答不清楚，无法确认此代码</source>
        <translation>The module&apos;s answers were not clear: this code could not be confirmed</translation>
    </message>
    <message>
        <source>模块与配置表一致（共 %1 个代码）</source>
        <translation>The module matches the table (codes: %1)</translation>
    </message>
    <message>
        <source>有 %1 个代码与模块不同：%2</source>
        <translation>Codes that differ from the module (%1): %2</translation>
    </message>
    <message>
        <source>有 %1 个代码无法确认</source>
        <translation>Codes that could not be confirmed: %1</translation>
    </message>
    <message>
        <source>按 F7 与模块比较</source>
        <translation>Press F7 to compare the module with the table</translation>
    </message>
    <message>
        <source>用模块中的代码</source>
        <translation>Use the module&apos;s code</translation>
    </message>
    <message>
        <source>与模块比较</source>
        <translation>Compare with module</translation>
    </message>
    <message>
        <source>；上次保存前的副本：%1，可用 打开文件 打开</source>
        <translation>; the copy from before the last save is %1, which Open file opens</translation>
    </message>
    <message>
        <source>无法载入 %1</source>
        <translation>Could not load %1</translation>
    </message>
    <message>
        <source>%1 所在的文件夹不能加锁，保存时未加锁</source>
        <translation>The folder of %1 cannot be locked; saved without the lock</translation>
    </message>
    <message>
        <source>%1 所在的文件夹无法刷新到磁盘，断电时刚保存的内容可能丢失</source>
        <translation>The folder of %1 could not be flushed to disk; a power cut may lose what was just saved</translation>
    </message>
    <message>
        <source>%1 是其他用户放在共享文件夹中的，不会写入；退出时配置将另存到别处</source>
        <translation>%1 was put in a shared folder by another user and is not written; at exit the table goes elsewhere</translation>
    </message>
    <message>
        <source>%1 是文件夹，不能保存到那里；退出时配置将另存到别处</source>
        <translation>%1 is a folder and cannot be saved to; at exit the table goes elsewhere</translation>
    </message>
    <message>
        <source>保存时 %1 的原内容将另存为 .bak</source>
        <translation>When saved, what %1 holds now will be kept as a .bak</translation>
    </message>
    <message>
        <source>此代码旁收到了无法识别的字节，代码可能有误</source>
        <translation>Bytes that were no answer came beside this code: it may be wrong</translation>
    </message>
    <message>
        <source>扩展名须为小写的 .dat</source>
        <translation>the extension must be a lower-case .dat</translation>
    </message>
    <message>
        <source>不是 .dat 文件</source>
        <translation>not a .dat file</translation>
    </message>
    <message>
        <source>（CSV 可用 velmora-cli import 转为表格文件）</source>
        <translation> (velmora-cli import turns a CSV into a table file)</translation>
    </message>
</context>
</TS>
