#pragma once

#include <QObject>
#include <QStringList>

#include <array>

class QLabel;
class QStatusBar;

namespace ombri {

// The lock-key indicators at the right of a status bar, lit while the key is on.
class LockKeyIndicators : public QObject {
  public:
    enum Key { Caps, Num, Scroll };

    // Adds one indicator per text ("CAP", "NUM", "SCRL") to the bar.
    LockKeyIndicators(QStatusBar* bar, const QStringList& texts);
    ~LockKeyIndicators() override;

    QLabel* indicator(Key key) const { return m_labels[key]; }
    void update();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::array<QLabel*, 3> m_labels{};
};

} // namespace ombri
