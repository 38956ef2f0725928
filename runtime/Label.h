#pragma once

#include <QLabel>

// A label whose caption has a Change signal: assigning a caption that
// differs from the current one emits Change inside setCaption; assigning the
// same caption emits nothing.
class Label : public QLabel
{
    Q_OBJECT

public:
    explicit Label(const QString& caption = {}, QWidget* parent = nullptr);

    QString caption() const { return text(); }
    void setCaption(const QString& caption);

signals:
    void Change();
};
