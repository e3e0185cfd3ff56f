#include "app/qt/picture_button.h"

#include <QMouseEvent>

namespace larkspur {

PictureButton::PictureButton(QWidget* parent) : QLabel(parent) {
  setCursor(Qt::PointingHandCursor);
}

void PictureButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    event->accept();
    emit clicked();
    return;
  }
  QLabel::mousePressEvent(event);
}

}  // namespace larkspur
