#pragma once

// `ProgButton`: a small owner-drawn control that is either a progress bar
// (`Style` 0) or a push button (any other `Style`). It paints two stacked
// vertical gradients, the filled part of the bar or the pressed look of the
// button, a rounded outline, and a centred text (the percentage or the
// caption). Its window is clipped to a rounded rectangle.
//
// Every property change and every input event rebuilds the whole picture in an
// off-screen image of the control's own; painting shows the last image drawn.

#include "progressbutton/prog_button_model.h"

#include <QImage>
#include <QPixmap>
#include <QString>
#include <QWidget>

class QPainter;

class ProgButton : public QWidget {
    Q_OBJECT

public:
    explicit ProgButton(QWidget* parent = nullptr);

    // `Value`: the setter keeps it within `Min` and `Max` (lowered to `Max`
    // first, then raised to `Min`).
    qint32 Value() const { return model_.value(); }
    void setValue(qint32 value);
    // `Min`, `Max`: stored as given, without checks against each other.
    qint32 Min() const { return model_.min(); }
    void setMin(qint32 value);
    qint32 Max() const { return model_.max(); }
    void setMax(qint32 value);
    // `Caption`: the button's text; an "&" before a character makes that
    // character the access key.
    QString Caption() const { return QString::fromStdString(model_.caption()); }
    void setCaption(const QString& caption);
    // `Style`: 0 progress bar, any other value push button.
    qint32 Style() const { return model_.style(); }
    void setStyle(qint32 mode);
    using QWidget::setStyle;
    // `Color`: colour scheme 1 to 9; other numbers keep the colours in force.
    qint32 Color() const { return model_.color(); }
    void setColor(qint32 scheme);
    // `Picture`: kept and returned only; the drawing does not use it.
    QPixmap Picture() const { return picture_; }
    void setPicture(const QPixmap& picture);
    // `hwnd`: the control's native window handle (makes the control a native
    // window when it was not one).
    WId hwnd() { return winId(); }

    // `DrawColor`: fills (left, top)-(right, bottom) with a vertical gradient,
    // startColor along the top edge to endColor along the bottom edge.
    void DrawColor(QPainter& painter, qint32 left, qint32 top, qint32 right, qint32 bottom,
                   QRgb startColor, QRgb endColor) const;
    // `DrawTextR`: draws text centred in the control, "&" prefixes processed,
    // and keeps its rectangle.
    void DrawTextR(QPainter& painter, const QString& text);
    // `GetFontWidth`, `GetFontHeight`: size of text in the control's font, in
    // whole pixels.
    qint32 GetFontWidth(const QString& text) const;
    qint32 GetFontHeight(const QString& text) const;

    // Loads the six persisted settings (defaults for absent keys), then
    // redraws; saves them, leaving out values equal to their defaults.
    void readProperties(const progbutton::PropertyBag& bag);
    void writeProperties(progbutton::PropertyBag& bag) const;

    // Rebuilds the whole picture and asks for it to be shown.
    void redraw();

    // What the control's state looks like to a test: the arithmetic and
    // state, and the last picture drawn.
    const progbutton::ProgButtonModel& model() const { return model_; }
    const QImage& image() const { return image_; }

    QSize sizeHint() const override { return {321, 17}; }

signals:
    // Button: 1 left, 2 right, 4 middle (in MouseMove the buttons held);
    // shift: 1 Shift, 2 Ctrl, 4 Alt; x and y in pixels.
    void MouseDown(short button, short shift, float x, float y);
    void MouseUp(short button, short shift, float x, float y);
    void MouseMove(short button, short shift, float x, float y);
    void Click();
    void DblClick();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void paintPicture(QPainter& painter);
    static void drawFocusRect(QImage& image, const progbutton::Rect& r);
    void applyWindowRegion();
    void updateAccessKey();
    void updateFocusPolicy();
    void raiseClick();

    progbutton::ProgButtonModel model_;
    QPixmap picture_;
    QImage image_;
    QSize regionSize_;
    int accessKeyId_ = 0;
    // A left press on the control that a release over it turns into Click.
    bool clickArmed_ = false;
};
