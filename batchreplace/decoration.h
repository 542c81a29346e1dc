#pragma once

#include <QPainter>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QWidget>

// A rectangle drawn in blue around a group of controls; it takes no input
// and stays behind the controls.
class ShapeOutline : public QWidget {
public:
    ShapeOutline(QWidget* parent, const QRect& geometry) : QWidget(parent) {
        setGeometry(geometry);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        lower();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(QColor(0, 0, 255));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
};

// A push button whose caption wraps onto further lines when it is wider than
// the button, as the captions of this window's narrow buttons need.
class WrappingButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter p(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        option.text.clear();
        p.drawControl(QStyle::CE_PushButton, option);
        p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                 QPalette::ButtonText));
        p.drawText(rect().adjusted(4, 2, -4, -2),
                   Qt::AlignCenter | Qt::TextWrapAnywhere | Qt::TextShowMnemonic, text());
    }
};
