// The yardstick: a plain Qt window with velmora's controls at their places,
// their texts in one language, the lists and the 97 x 3 table filled and the
// title set before it shows. It prints when the window is first mapped and
// closes itself once it has been drawn.
//
//   bench_bare_window [zh|en]     (Chinese unless told)

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <cstring>

namespace {

class BareWindow : public QWidget {
public:
    std::function<void()> firstPaint;

protected:
    bool event(QEvent* e) override
    {
        const bool handled = QWidget::event(e);
        if (e->type() == QEvent::Paint && firstPaint) {
            auto callback = std::move(firstPaint);
            firstPaint = nullptr;
            QTimer::singleShot(0, this, callback);
        }
        return handled;
    }
};

// Prints once, at the first expose of the window it watches: its map.
class MapAnnouncer : public QObject {
public:
    explicit MapAnnouncer(const QElapsedTimer& since) : since_(since) {}

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() == QEvent::Expose && !announced_ && static_cast<QWindow*>(watched)->isExposed()) {
            announced_ = true;
            std::printf("bare: shown after %lld ms\n", static_cast<long long>(since_.elapsed()));
            std::fflush(stdout);
        }
        return false;
    }

private:
    const QElapsedTimer& since_;
    bool announced_ = false;
};

struct Texts {
    const char *setBaud, *saveAs, *write, *read, *erase, *save, *open, *report, *learn, *clear, *openPort, *baud,
        *port, *title;
};

const Texts kChinese = {"设置波特率", "另存文件", "写入模块", "读取模块", "清空模块", "保存文件", "打开文件",
                        "上报", "DIY生成的设备，长按需要学习的按钮，在倒计时结束前上报需要学习的数据。", "清除→",
                        "开启", "波特率:", "端口:", "Velmora-自定义设备版   "};
const Texts kEnglish = {"Set baud rate", "Save as", "Write module", "Read module", "Erase module", "Save file",
                        "Open file", "Report",
                        "DIY device: hold down the button to be learned, and report its data before the countdown ends.",
                        "Clear →", "Open", "Baud:", "Port:", "Velmora - Custom Device Edition   "};

QString U(const char* text) { return QString::fromUtf8(text); }

}  // namespace

int main(int argc, char** argv)
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    QApplication app(argc, argv);
    const Texts& t = argc > 1 && std::strcmp(argv[1], "en") == 0 ? kEnglish : kChinese;

    BareWindow window;
    window.resize(740, 818);
    (new QProgressBar(&window))->setGeometry(0, 771, 740, 16);
    const std::pair<const char*, QRect> buttons[] = {
        {t.setBaud, {652, 44, 75, 25}}, {t.saveAs, {206, 745, 66, 25}}, {t.write, {606, 745, 66, 25}},
        {t.read, {506, 745, 66, 25}},   {t.erase, {406, 745, 66, 25}},  {t.save, {106, 745, 66, 25}},
        {t.open, {6, 745, 66, 25}},     {t.report, {666, 115, 50, 25}}};
    for (const auto& [text, rect] : buttons) (new QPushButton(U(text), &window))->setGeometry(rect);
    const QStringList rates = {"9600", "19200", "38400", "57600", "115200"};
    auto combo = [&](QWidget* parent, QRect rect, const QStringList& items) {
        auto* box = new QComboBox(parent);
        box->setEditable(true);
        box->addItems(items);
        box->setGeometry(rect.x(), rect.y(), rect.width(), box->sizeHint().height());
    };
    combo(&window, {652, 16, 75, 0}, rates);
    (new QLineEdit(U(t.learn), &window))->setGeometry(8, 115, 640, 24);
    auto* group = new QGroupBox(QStringLiteral("COM"), &window);
    group->setGeometry(0, 0, 160, 110);
    (new QPushButton(U(t.clear), group))->setGeometry(88, 72, 50, 25);
    (new QPushButton(U(t.openPort), group))->setGeometry(16, 72, 50, 25);
    combo(group, {75, 44, 75, 0}, rates);
    (new QLabel(U(t.baud), group))->setGeometry(5, 44, 40, 16);
    combo(group, {75, 16, 75, 0}, {QStringLiteral("COM1")});
    (new QLabel(U(t.port), group))->setGeometry(5, 16, 32, 16);
    (new QPlainTextEdit(&window))->setGeometry(165, 0, 482, 110);

    auto* table = new QTableWidget(96, 2, &window);
    table->setGeometry(0, 145, 735, 599);
    table->setHorizontalHeaderLabels({QStringLiteral("开"), QStringLiteral("关")});
    QStringList titles;
    for (int k = 1; k <= 32; ++k) {
        titles << QStringLiteral("开关%1控制").arg(k, 2, 10, QLatin1Char('0'));
        titles << QStringLiteral("开关%1反馈").arg(k, 2, 10, QLatin1Char('0'));
    }
    for (int s = 0; s < 32; ++s) titles << QStringLiteral("场景%1").arg(s);
    table->setVerticalHeaderLabels(titles);
    table->verticalHeader()->setFixedWidth(80);
    for (int c = 0; c < 2; ++c) table->setColumnWidth(c, 315);
    window.setWindowTitle(U(t.title) + QCoreApplication::applicationDirPath() + QStringLiteral("/data.dat"));

    window.firstPaint = [&] { window.close(); };
    window.show();
    MapAnnouncer announcer(sinceStart);
    window.windowHandle()->installEventFilter(&announcer);
    return app.exec();
}
