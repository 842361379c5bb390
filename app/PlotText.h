#pragma once

#include <QFont>
#include <QString>

#include <qwt_text.h>

// Axis titles of the chains' plots are drawn smaller than the default.
inline QwtText axisTitle(const QString& text) {
    QwtText title(text);
    QFont font;
    font.setPointSize(8);
    title.setFont(font);
    return title;
}
