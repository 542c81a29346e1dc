#include "batchreplace/contact_window.h"

#include "desktop/twips.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScreen>

namespace {

// The contact picture: the project's mark and its address, drawn here so that
// the program carries no third-party image.
QPixmap contactPicture(QSize size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::white);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF page(size.width() * 0.30, 18, size.width() * 0.40, size.height() * 0.45);
    QPainterPath sheet;
    sheet.addRoundedRect(page, 6, 6);
    p.fillPath(sheet, QColor(66, 133, 244));
    p.setPen(QPen(Qt::white, 3));
    for (int i = 1; i <= 4; ++i) {
        const qreal y = page.top() + page.height() * i / 5.0;
        p.drawLine(QPointF(page.left() + 10, y), QPointF(page.right() - (i == 4 ? 30 : 10), y));
    }
    p.setPen(QColor(40, 40, 40));
    QFont f = p.font();
    f.setPointSize(10);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRectF(0, page.bottom() + 12, size.width(), 22), Qt::AlignCenter, "batchreplace");
    f.setBold(false);
    f.setPointSize(8);
    p.setFont(f);
    p.drawText(QRectF(0, page.bottom() + 36, size.width(), 20), Qt::AlignCenter,
               "batchreplace@example.org");
    return pixmap;
}

} // namespace

Form3::Form3(QWidget* parent) : QDialog(parent) {
    setWindowTitle("联系程序员");
    setFixedSize(desktop::twips(3150), desktop::twips(3495));
    Label1 = new QLabel("添加微信好友（备注：软件咨询）", this);
    Label1->setGeometry(desktop::twipsRect(120, 240, 2895, 255));
    Image1 = new QLabel(this);
    Image1->setGeometry(desktop::twipsRect(0, 600, 3135, 2895));
    Image1->setPixmap(contactPicture(Image1->size()));
}

void Form3::showEvent(QShowEvent* event) {
    // On the screen's centre, not the main window's (a dialog's default).
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}
