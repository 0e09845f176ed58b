#include "ui/date_box.h"

#include <QAction>
#include <QCalendarWidget>
#include <QIcon>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <algorithm>
#include <optional>

#include "db/qt_text.h"
#include "recfiles/encodings.h"

namespace quillmere {

namespace {

// A small downward triangle, as on a drop-down list's button.
QIcon DropDownIcon(const QColor& color) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(color);
  const QPointF triangle[] = {{3.5, 6.0}, {12.5, 6.0}, {8.0, 11.0}};
  painter.drawPolygon(triangle, 3);
  return QIcon(pixmap);
}

}  // namespace

DateBox::DateBox(QWidget* parent) : QLineEdit(parent) {
  QAction* open =
      addAction(DropDownIcon(palette().color(QPalette::Text)), QLineEdit::TrailingPosition);
  open->setObjectName(QStringLiteral("openCalendar"));
  open->setToolTip(QStringLiteral("Choose the date from a calendar"));
  connect(open, &QAction::triggered, this, &DateBox::ShowCalendar);
}

void DateBox::setDate(const QDate& date) {
  setText(FromRecordText(FormatShortDate(Date{date.year(), date.month(), date.day()})));
}

void DateBox::ShowCalendar() {
  if (calendar_ == nullptr) {
    calendar_ = new QCalendarWidget(this);
    calendar_->setObjectName(QStringLiteral("calendar"));
    calendar_->setWindowFlags(Qt::Popup);
    calendar_->setGridVisible(true);
    connect(calendar_, &QCalendarWidget::clicked, this, &DateBox::TakeCalendarDate);
    connect(calendar_, &QCalendarWidget::activated, this, &DateBox::TakeCalendarDate);
  }
  const std::optional<Date> shown = ParseDate(ToRecordText(text()));
  calendar_->setSelectedDate(shown ? QDate(shown->year, shown->month, shown->day)
                                   : QDate::currentDate());
  // Under the box, or above it when the screen ends below; never past the screen's sides.
  const QSize size = calendar_->sizeHint();
  QPoint at = mapToGlobal(rect().bottomLeft());
  if (const QScreen* here = screen()) {
    const QRect room = here->availableGeometry();
    if (at.y() + size.height() > room.bottom()) {
      at.setY(mapToGlobal(rect().topLeft()).y() - size.height());
    }
    at.setX(std::max(room.left(), std::min(at.x(), room.right() - size.width())));
  }
  calendar_->setGeometry(QRect(at, size));
  calendar_->show();
  calendar_->setFocus();
}

void DateBox::TakeCalendarDate(const QDate& date) {
  setDate(date);
  calendar_->hide();
  setFocus(Qt::PopupFocusReason);
}

void DateBox::keyPressEvent(QKeyEvent* event) {
  const bool alt_down = event->key() == Qt::Key_Down && (event->modifiers() & Qt::AltModifier);
  if (alt_down || event->key() == Qt::Key_F4) {
    ShowCalendar();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

}  // namespace quillmere
