#pragma once

#include <QDialog>

class QLabel;

// `Form3`: the contact window, shown modally from the main window's menu.
class ContactWindow : public QDialog {
public:
    explicit ContactWindow(QWidget* parent = nullptr);

    QLabel* Label1;
    QLabel* Image1;
};
