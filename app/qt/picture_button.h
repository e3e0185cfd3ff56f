// A picture that acts as a button: a label that reports a left click.
// User-interface thread only.
#ifndef LARKSPUR_APP_QT_PICTURE_BUTTON_H_
#define LARKSPUR_APP_QT_PICTURE_BUTTON_H_

#include <QLabel>

namespace larkspur {

class PictureButton : public QLabel {
  Q_OBJECT

 public:
  explicit PictureButton(QWidget* parent = nullptr);

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
};

}  // namespace larkspur

#endif  // LARKSPUR_APP_QT_PICTURE_BUTTON_H_
