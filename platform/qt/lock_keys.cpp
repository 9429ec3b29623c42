#include "platform/qt/lock_keys.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>

#include <optional>

namespace ombri {
namespace {

// The state of a lock key as the keyboard's LED shows it. Linux offers no portable way for a
// program to ask the keyboard itself; the kernel's LED class is readable by every user on most
// machines and is what the lamps on the keyboard show. Nothing when no keyboard reports one
// (remote sessions, virtual displays).
std::optional<bool> lockLedState(const QString& ledName)
{
    const QDir leds(QStringLiteral("/sys/class/leds"));
    const QStringList names = leds.entryList(
        {QStringLiteral("*::") + ledName}, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    std::optional<bool> state;
    for (const QString& name : names) {
        QFile brightness(leds.filePath(name + QStringLiteral("/brightness")));
        if (!brightness.open(QIODevice::ReadOnly))
            continue;
        const bool lit = brightness.readAll().trimmed() != "0";
        state = state.value_or(false) || lit;
    }
    return state;
}

} // namespace

LockKeyIndicators::LockKeyIndicators(QStatusBar* bar, const QStringList& texts) : QObject(bar)
{
    for (size_t i = 0; i < m_labels.size(); ++i) {
        auto* label = new QLabel(texts.value(static_cast<qsizetype>(i)), bar);
        label->setAlignment(Qt::AlignCenter);
        label->setMinimumWidth(label->fontMetrics().horizontalAdvance(label->text()) + 12);
        bar->addPermanentWidget(label);
        m_labels[i] = label;
    }
    qApp->installEventFilter(this);
    update();
}

LockKeyIndicators::~LockKeyIndicators()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

void LockKeyIndicators::update()
{
    const char* const leds[] = {"capslock", "numlock", "scrolllock"};
    for (size_t i = 0; i < m_labels.size(); ++i) {
        // Unknown counts as off: the indicator stays greyed.
        m_labels[i]->setEnabled(lockLedState(QString::fromLatin1(leds[i])).value_or(false));
    }
}

bool LockKeyIndicators::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyRelease) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_CapsLock || key == Qt::Key_NumLock || key == Qt::Key_ScrollLock) {
            // The lamp follows the key a moment after it is released.
            QTimer::singleShot(100, this, &LockKeyIndicators::update);
        }
    } else if (event->type() == QEvent::ApplicationActivate) {
        update();
    }
    return QObject::eventFilter(watched, event);
}

} // namespace ombri
