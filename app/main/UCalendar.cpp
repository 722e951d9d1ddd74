#include "UCalendar.h"
#include "ui_UCalendar.h"

#include "platform/ui/Application.h"

#include <QCloseEvent>
#include <QTextCharFormat>

TfrmCalendar::TfrmCalendar(QWidget* parent) : QWidget(parent), ui(new Ui::TfrmCalendar)
{
    ui->setupUi(this);
    // Only the system menu and the close button in the title bar.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
        Qt::WindowCloseButtonHint);
    connect(ui->myCalend, &QCalendarWidget::activated, this, &TfrmCalendar::myCalendDblClick);
    FormCreate();
}

TfrmCalendar::~TfrmCalendar()
{
    delete ui;
}

QCalendarWidget* TfrmCalendar::myCalend() const
{
    return ui->myCalend;
}

void TfrmCalendar::FormCreate()
{
    QCalendarWidget* cal = ui->myCalend;
    cal->setLocale(QLocale(QLocale::French, QLocale::France));
    cal->setFirstDayOfWeek(Qt::Saturday);
    QFont f(QStringLiteral("Verdana"));
    f.setPixelSize(19);
    cal->setFont(f);
    // Teal surround with white text, a white title with blue text, and the
    // month itself on light blue (#5EAFFF).
    cal->setStyleSheet(QStringLiteral("QCalendarWidget { background-color: teal; }"
                                      "QCalendarWidget QWidget#qt_calendar_navigationbar { background-color: white; }"
                                      "QCalendarWidget QToolButton { color: blue; background-color: white; }"
                                      "QCalendarWidget QAbstractItemView { background-color: #5EAFFF; color: white;"
                                      " selection-background-color: teal; selection-color: white; }"));
    // Day names on teal, every day in white (no weekend colour).
    QTextCharFormat header;
    header.setForeground(QColor(Qt::white));
    header.setBackground(QColor(Qt::darkCyan));
    header.setFont(f);
    cal->setHeaderTextFormat(header);
    QTextCharFormat day;
    day.setForeground(QColor(Qt::white));
    for (Qt::DayOfWeek d : {Qt::Saturday, Qt::Sunday})
        cal->setWeekdayTextFormat(d, day);
    cal->setSelectedDate(QDate::currentDate());
    cal->showSelectedDate();

    // Not resizable; centred on the screen.
    adjustSize();
    resize(sizeHint().expandedTo(QSize(440, 260)));
    kui::SetFixedBorder(this);
    kui::CentreOnScreen(this);
}

void TfrmCalendar::myCalendDblClick()
{
    close();
}

void TfrmCalendar::closeEvent(QCloseEvent* event)
{
    // Hidden, not destroyed.
    hide();
    event->accept();
}
