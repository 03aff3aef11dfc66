#include "Fakes.h"
#include "SearchDriver.h"
#include "TestMain.h"

namespace {
class ListRows final : public FolderRows
{
public:
    explicit ListRows(QStringList rows) : m_rows(std::move(rows)) {}
    std::size_t rowCount() const override { return static_cast<std::size_t>(m_rows.size()); }
    QString rowText(std::size_t row) const override { return m_rows.at(static_cast<qsizetype>(row)); }

private:
    QStringList m_rows;
};
} // namespace

class SearchDriverTest : public QObject
{
    Q_OBJECT

private slots:
    void emptyListShowsMessageAndLeavesStopFlag()
    {
        RecordingHost host;
        MemorySettingsStore settings;
        settings.setValue(QStringLiteral("Stop"), QStringLiteral("True"));
        VectorSink sink;
        sink.addRow(QStringLiteral("/old"), {}, QStringLiteral("blue"));
        SearchDriver driver(host, settings, sink);

        QCOMPARE(driver.run(ListRows({})), SearchDriver::Outcome::EmptyList);
        QCOMPARE(host.messages,
                 QStringList{QStringLiteral("|There are no folders to find duplicates for. Please drag and drop "
                                            "some folders into the list above.")});
        QCOMPARE(settings.value(QStringLiteral("Stop")), QStringLiteral("True"));
        QCOMPARE(sink.rowCount(), std::size_t(1));
    }

    void questionTextFormatsTheCountWithSeparators()
    {
        const QString text = SearchDriver::tooManyFilesQuestion(3, 20001);
        QVERIFY(text.startsWith(QStringLiteral("The 3 folder(s) you've selected contains 20,001 files.")));
        QVERIFY(text.contains(QStringLiteral("'Clear List'.\r\rYou can still proceed")));
    }
};

TWINFOLD_GUILESS_TEST_MAIN(SearchDriverTest)
#include "tst_searchdriver.moc"
