#pragma once

#include "EventPump.h"
#include "Fakes.h"
#include "Form1.h"
#include "Services.h"
#include "SettingsStore.h"
#include "TestFiles.h"
#include "Trash.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>

#include <functional>
#include <memory>

// Settings in memory; the stop flag can be made to read "True" while a condition holds.
class ScriptedSettings final : public SettingsStore
{
public:
    std::optional<QString> value(const QString &key) const override
    {
        if (key == QLatin1String("Stop") && forceStop && forceStop())
            return QStringLiteral("True");
        return m_values.value(key);
    }
    void setValue(const QString &key, const QString &value) override { m_values.setValue(key, value); }

    std::function<bool()> forceStop;

private:
    MemorySettingsStore m_values;
};

// A real Form1 with fake dialogs and message boxes and in-memory settings.
struct AppHarness
{
    explicit AppHarness(const QString &programFolder = {})
        : services{settings, messages, dialog, screen, trash, pump, programFolder}
    {}

    Form1 &open()
    {
        form = std::make_unique<Form1>(services);
        return *form;
    }
    bool openShown()
    {
        open().show();
        return QTest::qWaitForWindowExposed(form.get());
    }

    template <class T = QWidget> T *control(const char *name) const
    {
        return form->findChild<T *>(QLatin1String(name));
    }
    QAbstractButton *button(const char *name) const { return control<QAbstractButton>(name); }
    QString stored(const char *key) const
    {
        return settings.value(QLatin1String(key)).value_or(QStringLiteral("<missing>"));
    }
    void addFolder(const QString &folder)
    {
        dialog.answers.push_back(folder);
        button("Check2")->click();
    }

    ScriptedSettings settings;
    FakeMessageBoxes messages;
    FakeFolderDialog dialog;
    FakeScreen screen;
    SystemTrash trash;
    QtEventPump pump;
    Services services;
    std::unique_ptr<Form1> form;
};

// The one message shown so far, a plain box without an icon.
inline void verifyMessage(const FakeMessageBoxes &messages, const QString &text, const QString &title,
                          MessageBoxes::Buttons buttons)
{
    QCOMPARE(messages.shown.size(), std::size_t(1));
    QCOMPARE(messages.shown[0].text, text);
    QCOMPARE(messages.shown[0].title, title);
    QCOMPARE(messages.shown[0].buttons, buttons);
    QCOMPARE(messages.shown[0].icon, MessageBoxes::Icon::None);
}

// The one top-level window of the given class, or null.
template <class T> T *topLevel()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (T *found = qobject_cast<T *>(widget))
            return found;
    return nullptr;
}
