#include "caption_batch.h"
#include "test_main.h"

#include <QElapsedTimer>

#include <memory>

namespace {

// Counts the paints of one widget and remembers the caption each showed.
class PaintLog : public QObject
{
public:
    explicit PaintLog(QLabel *label) : label_(label) { label->installEventFilter(this); }
    QStringList painted;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted << label_->text();
        return false;
    }

private:
    QLabel *label_;
};

} // namespace

class TestCaptionBatch : public QObject
{
    Q_OBJECT

private slots:
    // Inside a batch the caption reads back at once but is laid out only
    // when the outermost batch ends; outside one, every change is immediate.
    void captionsWaitForTheOutermostBatch_data()
    {
        QTest::addColumn<int>("depth");
        QTest::addColumn<QStringList>("captions");
        QTest::newRow("no batch") << 0 << QStringList{"1000"};
        QTest::newRow("one caption") << 1 << QStringList{"1000"};
        QTest::newRow("a burst") << 1 << QStringList{"1", "22222", "-65245", "7"};
        QTest::newRow("nested") << 3 << QStringList{"31111", "The port can not open"};
    }
    void captionsWaitForTheOutermostBatch()
    {
        QFETCH(int, depth);
        QFETCH(QStringList, captions);
        QWidget window;
        TLabel label(&window);
        label.SetText("No data");
        {
            std::vector<std::unique_ptr<TCaptionBatch>> batches;
            for (int i = 0; i < depth; ++i)
                batches.push_back(std::make_unique<TCaptionBatch>());
            for (const QString &caption : captions) {
                label.SetText(caption.toStdString());
                QCOMPARE(label.GetText(), caption.toStdString());
                QCOMPARE(label.property("Caption").toString(), caption);
            }
            while (!batches.empty()) {
                QCOMPARE(label.text(), depth ? QStringLiteral("No data") : captions.last());
                batches.pop_back();
            }
        }
        QCOMPARE(label.text(), captions.last());
        QVERIFY(label.width() >= label.sizeHint().width());
    }

    void labelGoneBeforeTheBatchEnds()
    {
        TCaptionBatch batch;
        auto label = std::make_unique<TLabel>(nullptr);
        label->SetText("1000");
        label.reset();
    }

    void captionSetBeforeAThrowIsStillShown()
    {
        TLabel label(nullptr);
        try {
            const TCaptionBatch batch;
            label.SetText("1000");
            throw Exception("handler failed");
        } catch (const Exception &) {
        }
        QCOMPARE(label.text(), QStringLiteral("1000"));
    }

    // A window being flooded with captions is painted about once a frame,
    // always ending on the newest caption; a change after a quiet spell is
    // painted without waiting.
    void paintsAreCappedToAboutOneAFrame()
    {
        TForm form(nullptr);
        form.resize(300, 100);
        form.Created();
        TLabel label(&form);
        PaintLog log(&label);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTest::qWait(50);

        log.painted.clear();
        label.SetText("1");
        QCoreApplication::processEvents();
        QCOMPARE(log.painted, QStringList{"1"});

        QElapsedTimer flood;
        flood.start();
        int changes = 0;
        while (flood.elapsed() < 200) {
            label.SetText(std::to_string(++changes));
            QCoreApplication::processEvents();
        }
        const QString last = QString::number(changes);
        QTRY_COMPARE(log.painted.last(), last);
        QVERIFY2(log.painted.size() <= 200 / 8 + 4,
                 qPrintable(QStringLiteral("%1 paints for %2 changes").arg(log.painted.size()).arg(changes)));
        QVERIFY(changes > log.painted.size());
    }
};

COMLOOP_TEST_MAIN(TestCaptionBatch)
#include "tst_caption_batch.moc"
