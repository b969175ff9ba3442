// The design system's shared controls, drawn from the palette: a search field,
// a primary button, an empty state, a label that elides in the middle, and
// the symbol icons (the desktop's icon theme first, drawn ones otherwise).
#pragma once

#include <QColor>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

class QLabel;

namespace halvo::ui {

enum class Symbol { search, help };

// The freedesktop icon for `symbol` from the icon theme, or a drawn one in
// the secondary text colour.
QIcon symbolIcon(Symbol symbol);

class TAVSearchField final : public QLineEdit {
    Q_OBJECT
  public:
    explicit TAVSearchField(QWidget* parent = nullptr);
};

class TAVButton final : public QPushButton {
    Q_OBJECT
  public:
    enum class Variant { primary, secondary };
    TAVButton(const QString& text, Variant variant, QWidget* parent = nullptr);
};

// An icon over a title, centred; plain text only.
class TAVEmptyState final : public QWidget {
    Q_OBJECT
  public:
    explicit TAVEmptyState(Symbol icon, QWidget* parent = nullptr);
    void setTitle(const QString& title);
    QString title() const;
    // Plain text under the title, wrapped; none when empty.
    void setBody(const QString& body);
    QString body() const;

  private:
    QLabel* title_;
    QLabel* body_;
};

// A flat button that reads as a link: the accent colour, underlined on hover.
QPushButton* linkButton(const QString& text, QWidget* parent);

// A plain-text label (never rich text) in `font` and `colour`; wrapped when asked.
QLabel* plainLabel(const QString& text, const QFont& font, QRgb colour, QWidget* parent,
                   bool wrap = false);

// One line of plain text, shortened in the middle to the width it is given.
// It asks for no width of its own, so no text can stretch its window.
class ElidedLabel final : public QWidget {
    Q_OBJECT
  public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const { return text_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString text_;
};

}  // namespace halvo::ui
