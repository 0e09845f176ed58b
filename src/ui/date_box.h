// DateBox: a date the operator types as text, with a calendar to pick one from instead. The box
// keeps exactly what was typed, date or not; the operation that reads it checks the text and
// refuses one that is no date with a message. A sectioned date editor would instead change
// typed digits it does not like into a date of its own choice, without a word.
#pragma once

#include <QDate>
#include <QLineEdit>

class QCalendarWidget;
class QKeyEvent;

namespace quillmere {

class DateBox : public QLineEdit {
  Q_OBJECT

 public:
  explicit DateBox(QWidget* parent = nullptr);

  // Shows `date` in the run's date form: setDate(QDate(2024, 3, 5)) shows "03/05/2024". Named
  // as QDateEdit names it.
  void setDate(const QDate& date);

  // Opens the calendar under the box on the date the box holds (M/D/YYYY), or on today's date
  // when it holds none. Picking a day (click, or Enter) puts it into the box and closes the
  // calendar; Escape or a click elsewhere closes it and leaves the box as it was. The drop-down
  // button at the box's right end, Alt+Down and F4 open it too.
  void ShowCalendar();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void TakeCalendarDate(const QDate& date);

  QCalendarWidget* calendar_ = nullptr;  // created when first opened
};

}  // namespace quillmere
