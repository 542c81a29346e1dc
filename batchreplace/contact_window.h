#pragma once

#include <QDialog>

class QLabel;

// `Form3`: the contact window, shown modally from the main window's menu,
// centred on the screen.
class Form3 : public QDialog {
public:
    explicit Form3(QWidget* parent = nullptr);

    QLabel* Label1; // "添加微信好友（备注：软件咨询）"
    QLabel* Image1; // the contact picture

protected:
    void showEvent(QShowEvent* event) override;
};
