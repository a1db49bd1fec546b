// The yardstick: a plain Qt window of velmora's size holding a 97 x 3 table,
// which prints when it is first drawn and closes itself.

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTableWidget>
#include <QTimer>
#include <cstdio>

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
}  // namespace

int main(int argc, char** argv)
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    QApplication app(argc, argv);
    BareWindow window;
    window.setFixedSize(740, 818);
    auto* table = new QTableWidget(97, 3, &window);
    table->setGeometry(0, 145, 735, 599);
    for (int r = 0; r < 97; ++r) table->setItem(r, 0, new QTableWidgetItem(QStringLiteral("开关%1控制").arg(r)));
    window.firstPaint = [&] {
        std::printf("bare: shown after %lld ms\n", static_cast<long long>(sinceStart.elapsed()));
        std::fflush(stdout);
        window.close();
    };
    window.show();
    return app.exec();
}
