#pragma once

#include "EventPump.h"
#include "Fakes.h"
#include "Form1.h"
#include "Services.h"
#include "SettingsStore.h"
#include "Trash.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>

#include <functional>
#include <memory>

// Settings in memory; the stop flag can be forced to read "True" from a condition.
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

// A real Form1 with fake dialogs and message boxes and an in-memory settings store.
struct AppHarness
{
    explicit AppHarness(const QString &programFolder = QStringLiteral("/nonexistent-program-folder"))
        : services{settings, messages, dialog, screen, trash, pump, programFolder}
    {
    }

    Form1 &open()
    {
        form = std::make_unique<Form1>(services);
        return *form;
    }

    template <class T = QWidget>
    T *control(const char *name) const
    {
        T *found = form->findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }

    QAbstractButton *button(const char *name) const { return control<QAbstractButton>(name); }

    ScriptedSettings settings;
    FakeMessageBoxes messages;
    FakeFolderDialog dialog;
    FakeScreen screen;
    SystemTrash trash;
    QtEventPump pump;
    Services services;
    std::unique_ptr<Form1> form;
};

// The one top-level window of the given class, or null.
template <class T>
T *topLevel()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (T *found = qobject_cast<T *>(widget))
            return found;
    return nullptr;
}
