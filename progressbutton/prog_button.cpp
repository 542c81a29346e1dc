#include "progressbutton/prog_button.h"

#include <QBitmap>
#include <QCoreApplication>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QShortcutEvent>

#include <algorithm>

namespace {

QRgb toQRgb(const progbutton::Rgb& c) {
    return qRgb(c.r, c.g, c.b);
}

// Mouse buttons as the events report them: 1 left, 2 right, 4 middle.
short buttonBits(Qt::MouseButtons buttons) {
    short bits = 0;
    if (buttons & Qt::LeftButton)
        bits |= 1;
    if (buttons & Qt::RightButton)
        bits |= 2;
    if (buttons & Qt::MiddleButton)
        bits |= 4;
    return bits;
}

// Modifier keys as the events report them: 1 Shift, 2 Ctrl, 4 Alt.
short shiftBits(Qt::KeyboardModifiers modifiers) {
    short bits = 0;
    if (modifiers & Qt::ShiftModifier)
        bits |= 1;
    if (modifiers & Qt::ControlModifier)
        bits |= 2;
    if (modifiers & Qt::AltModifier)
        bits |= 4;
    return bits;
}

// Lets pending window events run, as the mouse handlers do before raising
// their event. Returns false when the control went away meanwhile.
bool runPendingEvents(QPointer<ProgButton>& self) {
    QCoreApplication::processEvents();
    return !self.isNull();
}

} // namespace

ProgButton::ProgButton(QWidget* parent) : QWidget(parent) {
    // Painting shows the off-screen image whole; nothing underneath needs
    // drawing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    // MouseMove is raised on every move over the control, with or without
    // a button held.
    setMouseTracking(true);
    updateFocusPolicy();
    redraw();
}

void ProgButton::setValue(qint32 value) {
    model_.setValue(value);
    redraw();
}

void ProgButton::setMin(qint32 value) {
    model_.setMin(value);
    redraw();
}

void ProgButton::setMax(qint32 value) {
    model_.setMax(value);
    redraw();
}

void ProgButton::setCaption(const QString& caption) {
    model_.setCaption(caption.toStdString());
    updateAccessKey();
    redraw();
}

void ProgButton::setStyle(qint32 mode) {
    model_.setStyle(mode);
    updateFocusPolicy();
    redraw();
}

void ProgButton::setColor(qint32 scheme) {
    model_.setColor(scheme);
    redraw();
}

void ProgButton::setPicture(const QPixmap& picture) {
    picture_ = picture;
    redraw();
}

void ProgButton::readProperties(const progbutton::PropertyBag& bag) {
    model_.readProperties(bag);
    updateAccessKey();
    updateFocusPolicy();
    redraw();
}

void ProgButton::writeProperties(progbutton::PropertyBag& bag) const {
    model_.writeProperties(bag);
}

void ProgButton::DrawColor(QPainter& painter, qint32 left, qint32 top, qint32 right, qint32 bottom,
                           QRgb startColor, QRgb endColor) const {
    if (right <= left || bottom <= top)
        return;
    QLinearGradient gradient(0, top, 0, bottom);
    gradient.setColorAt(0, QColor::fromRgb(startColor));
    gradient.setColorAt(1, QColor::fromRgb(endColor));
    painter.fillRect(QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)), gradient);
}

qint32 ProgButton::GetFontWidth(const QString& text) const {
    return progbutton::roundToInt32(QFontMetricsF(font()).horizontalAdvance(text));
}

qint32 ProgButton::GetFontHeight(const QString& text) const {
    // The height of a line of the font, whatever the text.
    (void)text;
    return progbutton::roundToInt32(QFontMetricsF(font()).height());
}

void ProgButton::DrawTextR(QPainter& painter, const QString& text) {
    const auto r = model_.placeText(GetFontWidth(text), GetFontHeight(text));
    const QRect box(r.left, r.top, r.right - r.left, r.bottom - r.top);
    painter.save();
    painter.setClipRect(box);
    painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextShowMnemonic, text);
    painter.restore();
}

void ProgButton::redraw() {
    // The image is drawn pixel for pixel, at the control's size.
    if (image_.size() != size())
        image_ = QImage(size(), QImage::Format_ARGB32_Premultiplied);
    image_.fill(Qt::transparent);
    applyWindowRegion();
    model_.layout(width(), height());
    if (!image_.isNull()) {
        {
            QPainter painter(&image_);
            paintPicture(painter);
        }
        if (model_.isButton() && model_.focused())
            drawFocusRect(image_, model_.focusRect());
    }
    update();
}

void ProgButton::paintPicture(QPainter& painter) {
    painter.setFont(font());
    const auto& c = model_.colours();
    const qint32 w = width();
    const qint32 h = height();
    const qint32 half = model_.half();
    const qint32 right = model_.right();
    const qint32 bottom = model_.bottom();

    DrawColor(painter, 0, 0, w, half, toQRgb(c[0]), toQRgb(c[1]));
    DrawColor(painter, 0, half, w, h, toQRgb(c[2]), toQRgb(c[3]));

    QString text;
    if (model_.isButton()) {
        if (model_.pressed()) {
            DrawColor(painter, 0, 0, right, half, toQRgb(c[4]), toQRgb(c[5]));
            DrawColor(painter, 0, half, right, h, toQRgb(c[6]), toQRgb(c[7]));
        }
        text = Caption();
    } else {
        // A fill at or below 0 draws nothing; one beyond the control is cut
        // off at its edge.
        const qint32 fill = std::min(model_.fill(), w);
        DrawColor(painter, 0, 0, fill, half, toQRgb(c[4]), toQRgb(c[5]));
        DrawColor(painter, 0, half, fill, h, toQRgb(c[6]), toQRgb(c[7]));
        text = QString::fromStdString(model_.progressText(QLocale().decimalPoint().toStdString()));
    }

    // Outline, corner ellipse cornerSize x cornerSize, not filled.
    const qreal radius = model_.cornerSize() / 2.0;
    painter.setPen(QColor::fromRgb(toQRgb(c[8])));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(0, 0, right, bottom), radius, radius);

    painter.setPen(Qt::black);
    DrawTextR(painter, text);
}

void ProgButton::drawFocusRect(QImage& image, const progbutton::Rect& r) {
    // The dotted focus frame: every other pixel along the edges of the
    // rectangle (right and bottom edges exclusive), its colour inverted.
    const QRect frame =
        QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1)).intersected(image.rect());
    if (frame.isEmpty())
        return;
    auto invert = [&image](int x, int y) {
        if (((x + y) & 1) != 0)
            return;
        const QRgb p = image.pixel(x, y);
        image.setPixel(x, y, qRgba(255 - qRed(p), 255 - qGreen(p), 255 - qBlue(p), qAlpha(p)));
    };
    for (int x = frame.left(); x <= frame.right(); ++x) {
        invert(x, frame.top());
        if (frame.bottom() != frame.top())
            invert(x, frame.bottom());
    }
    for (int y = frame.top() + 1; y < frame.bottom(); ++y) {
        invert(frame.left(), y);
        if (frame.right() != frame.left())
            invert(frame.right(), y);
    }
}

void ProgButton::applyWindowRegion() {
    // The region only changes with the size, so it is set again only then.
    if (regionSize_ == size())
        return;
    regionSize_ = size();
    if (width() <= 0 || height() <= 0) {
        clearMask();
        return;
    }
    QBitmap shape(size());
    shape.fill(Qt::color0);
    QPainter painter(&shape);
    painter.setPen(Qt::color1);
    painter.setBrush(Qt::color1);
    const qreal radius = model_.cornerSize() / 2.0;
    painter.drawRoundedRect(QRectF(0, 0, width() - 1, height() - 1), radius, radius);
    painter.end();
    setMask(shape);
}

void ProgButton::updateAccessKey() {
    if (accessKeyId_ != 0) {
        releaseShortcut(accessKeyId_);
        accessKeyId_ = 0;
    }
    const auto& key = model_.accessKey();
    if (!key)
        return;
    // Alt plus the key, whatever the letter's case.
    const QKeySequence sequence = QKeySequence::mnemonic(u'&' + QString::fromStdString(*key));
    if (!sequence.isEmpty())
        accessKeyId_ = grabShortcut(sequence);
}

void ProgButton::updateFocusPolicy() {
    // A button takes the focus; a progress bar is no stop for the keyboard.
    setFocusPolicy(model_.isButton() ? Qt::StrongFocus : Qt::NoFocus);
}

void ProgButton::raiseClick() {
    QPointer<ProgButton> self(this);
    emit Click();
    if (self)
        redraw();
}

bool ProgButton::event(QEvent* event) {
    if (event->type() == QEvent::Shortcut) {
        auto* shortcut = static_cast<QShortcutEvent*>(event);
        if (accessKeyId_ != 0 && shortcut->shortcutId() == accessKeyId_) {
            if (model_.keyboardClicks())
                raiseClick();
            return true;
        }
    }
    return QWidget::event(event);
}

void ProgButton::paintEvent(QPaintEvent*) {
    if (image_.size() != size())
        redraw();
    QPainter painter(this);
    painter.drawImage(0, 0, image_);
}

void ProgButton::resizeEvent(QResizeEvent*) {
    redraw();
}

void ProgButton::mousePressEvent(QMouseEvent* event) {
    const short button = buttonBits(event->button());
    const short shift = shiftBits(event->modifiers());
    const QPointF at = event->position();
    QPointer<ProgButton> self(this);
    if (!runPendingEvents(self))
        return;
    emit MouseDown(button, shift, float(at.x()), float(at.y()));
    if (!self)
        return;
    clickArmed_ = (button == 1);
    model_.setPressed(true);
    redraw();
}

void ProgButton::mouseReleaseEvent(QMouseEvent* event) {
    const short button = buttonBits(event->button());
    const short shift = shiftBits(event->modifiers());
    const QPointF at = event->position();
    QPointer<ProgButton> self(this);
    if (!runPendingEvents(self))
        return;
    emit MouseUp(button, shift, float(at.x()), float(at.y()));
    if (!self)
        return;
    model_.setPressed(false);
    redraw();
    const bool click = clickArmed_ && button == 1 && rect().contains(at.toPoint());
    clickArmed_ = false;
    if (click)
        raiseClick();
}

void ProgButton::mouseMoveEvent(QMouseEvent* event) {
    const short buttons = buttonBits(event->buttons());
    const short shift = shiftBits(event->modifiers());
    const QPointF at = event->position();
    QPointer<ProgButton> self(this);
    if (!runPendingEvents(self))
        return;
    emit MouseMove(buttons, shift, float(at.x()), float(at.y()));
}

void ProgButton::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click raises DblClick in place of
    // MouseDown; its release raises MouseUp but no further Click.
    clickArmed_ = false;
    if (event->button() != Qt::LeftButton) {
        mousePressEvent(event);
        return;
    }
    QPointer<ProgButton> self(this);
    emit DblClick();
    if (self)
        redraw();
}

void ProgButton::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter) {
        QWidget::keyPressEvent(event);
        return;
    }
    // Enter is the control's own key in every mode; only mode 1 acts on it.
    event->accept();
    if (!model_.keyboardClicks())
        return;
    QPointer<ProgButton> self(this);
    emit Click();
    if (!self)
        return;
    setFocus(Qt::OtherFocusReason);
    redraw();
}

void ProgButton::focusInEvent(QFocusEvent* event) {
    model_.enterFocus();
    redraw();
    QWidget::focusInEvent(event);
}

void ProgButton::focusOutEvent(QFocusEvent* event) {
    model_.leaveFocus();
    redraw();
    QWidget::focusOutEvent(event);
}
