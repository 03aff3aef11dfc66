#include "Fakes.h"

MessageBoxes::Answer FakeMessageBoxes::show(const QString &text, Buttons buttons, const QString &title, Icon icon)
{
    shown.push_back(Shown{text, buttons, title, icon});
    if (onShow)
        onShow(shown.back());
    if (answers.empty())
        return defaultAnswer;
    const Answer answer = answers.front();
    answers.pop_front();
    return answer;
}

QString FakeFolderDialog::browseForFolder(const QString &prompt)
{
    prompts << prompt;
    if (answers.empty())
        return {};
    QString answer = answers.front();
    answers.pop_front();
    return answer;
}

void RecordingHost::pumpEvents()
{
    ++pumps;
}

bool RecordingHost::stopRequested()
{
    ++polls;
    return stopWhen && stopWhen();
}

void RecordingHost::showMessage(const QString &text, const QString &title)
{
    messages << title + QLatin1Char('|') + text;
}

bool RecordingHost::askYesNo(const QString &text, const QString &title)
{
    messages << title + QLatin1Char('|') + text;
    return answerYes;
}

std::vector<QStringList> VectorSink::groups() const
{
    std::vector<QStringList> result;
    std::size_t begin = 0;
    for (std::size_t end : groupEnds) {
        QStringList group;
        for (std::size_t i = begin; i < end; ++i)
            group << rows[i].path;
        result.push_back(group);
        begin = end;
    }
    return result;
}
