// A read-only reminder of which services use which ports, with two example
// queries, shown as a popup under the kill panel's help button. A click
// elsewhere or on the help button again closes it.
#pragma once

#include <QFrame>
#include <QPointer>
#include <QString>

#include <vector>

namespace halvo {

struct PortReferenceRow {
    QString service;
    QString port;  // shown verbatim

    // Two services on one port stay distinct.
    QString id() const { return service + u'-' + port; }
};

// The common ports, in the order they are shown.
const std::vector<PortReferenceRow>& commonPortReferenceRows();

class PortReferencePopover final : public QFrame {
    Q_OBJECT
  public:
    static constexpr int kWidth = 244;

    explicit PortReferencePopover(const std::vector<PortReferenceRow>& rows,
                                  QWidget* parent = nullptr);

    // Shows the popover under `anchor`; a press on `anchor` while it is open
    // closes it without reopening it.
    void showUnder(QWidget* anchor);

  protected:
    void mousePressEvent(QMouseEvent* event) override;

  private:
    QPointer<QWidget> anchor_;
};

}  // namespace halvo
