#include "UGetOldInfos.h"

#include "RecordsCommon.h"
#include "app/global/global.h"
#include "platform/db/dataset/Dataset.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

// Odd rows white, even rows $E6E6E6, the selection in the highlight
// colours; the trimmed text wrapped, the row as tall as it + 5.
class OldInfoDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette& pal = option.palette;
        p->fillRect(option.rect,
            selected                     ? pal.color(QPalette::Highlight)
                : (index.row() % 2 == 1) ? QColor(Qt::white)
                                         : records::ReadOnlyGrey);
        // the title row (which cannot be chosen) is drawn as the others
        p->setPen(selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Active, QPalette::WindowText));
        p->drawText(option.rect.adjusted(2, 2, -2, -2), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop,
            index.data().toString().trimmed());
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QRect r = option.fontMetrics.boundingRect(QRect(0, 0, std::max(option.rect.width(), 50) - 4, 10000),
            Qt::TextWordWrap, index.data().toString().trimmed());
        return {option.rect.width(), r.height() + 5};
    }
};

}  // namespace

TfrmGetOldInfos::TfrmGetOldInfos(QWidget* parent) : QDialog(parent), grid_(new QTableWidget(this))
{
    setObjectName(QStringLiteral("frmGetOldInfos"));
    resize(420, 360);
    grid_->setObjectName(QStringLiteral("grdInfos"));
    grid_->setColumnCount(1);
    grid_->horizontalHeader()->hide();
    grid_->verticalHeader()->hide();
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setItemDelegate(new OldInfoDelegate(grid_));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("btnBox"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(grid_);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    grid_->viewport()->installEventFilter(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
}

bool TfrmGetOldInfos::eventFilter(QObject* watched, QEvent* event)
{
    // A double-click on a value (not on the title row) chooses it.
    if (watched == grid_->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        const QModelIndex at = grid_->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint());
        if (at.isValid() && at.row() > 0)
            accept();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmGetOldInfos::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmGetOldInfos::FormShow()
{
    RestoreFormPosition(this);
    setWindowTitle(Title);
    QStringList values;
    records::Guarded([&] {
        kdb::QueryDataset q;
        q.setDatabaseName(DataPath.toStdString());
        q.setSql(SQL);
        q.open();
        for (q.first(); !q.eof(); q.next())
            values.append(q.field(0).asString());
        q.close();
    });
    grid_->setRowCount(static_cast<int>(values.size()) + 2);
    // The title row heads the list: it can be neither selected nor chosen.
    auto* title = new QTableWidgetItem(Title);
    title->setFlags(Qt::NoItemFlags);
    grid_->setItem(0, 0, title);
    for (int i = 0; i < values.size(); ++i)
        grid_->setItem(i + 1, 0, new QTableWidgetItem(values[i]));
    grid_->setItem(static_cast<int>(values.size()) + 1, 0, new QTableWidgetItem(QString()));
    grid_->setColumnWidth(0, width() - 30);
    grid_->resizeRowsToContents();
    grid_->setCurrentCell(values.isEmpty() ? 1 : 1, 0);
}

void TfrmGetOldInfos::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    grid_->setColumnWidth(0, width() - 30);
    grid_->resizeRowsToContents();
}

void TfrmGetOldInfos::done(int result)
{
    const QTableWidgetItem* cell = grid_->currentItem();
    if (result == QDialog::Accepted && (!cell || cell->row() < 1))
        return;  // nothing but a value is chosen
    Selected = cell ? cell->text().trimmed() : QString();
    SaveFormPosition(this);
    QDialog::done(result);
}
