#pragma once

#include "Form.h"

class TextBox;

// The help window: one scrolling box with the help text, in bold 12 points.
// The text can be edited in the box, but nothing typed is kept. The window
// lives on its own until the user closes it; the settings window makes it
// once and shows the same one again.
class Qhelp : public Form
{
    Q_OBJECT

public:
    explicit Qhelp(QWidget* parent = nullptr);

    TextBox* Text1 = nullptr;
};
