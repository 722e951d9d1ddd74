#include "URptProtocole.h"

#include "ReportCommon.h"
#include "app/global/global.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/report/Report.h"
#include "platform/rtf/Rtf.h"
#include "platform/ui/Messages.h"

#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>

using krpt::BandKind;
using krpt::LayoutFont;

namespace {

// Designed places of the diagnosis and the intervention.
constexpr double kDiagTop = 320;
constexpr double kDesignedHeight = 20;
constexpr double kIntervGap = 12;
constexpr double kValueX = 118;
constexpr double kValueWidth = 600;

// The height of a word-wrapped text at a width, tabs expanded, as the
// text is printed in that font.
double MeasuredHeight(const QString& text, const QFont& font, double width)
{
    if (text.isEmpty())
        return 0;
    const QFontMetricsF metrics(font);
    return metrics.boundingRect(QRectF(0, 0, width, 0), Qt::TextWordWrap | Qt::TextExpandTabs, text).height();
}

}  // namespace

TfrmRptProtocole::TfrmRptProtocole(QObject* parent)
    : QObject(parent), qProt(new kdb::QueryDataset(this)), RptProtocole_(std::make_unique<krpt::Report>()),
      detail_(std::make_unique<QTextDocument>())
{
    qProt->setSql(QStringList{"SELECT * FROM FPROT", "WHERE NUM=:MYNUM"});

    krpt::Report& r = *RptProtocole_;
    r.title = "Listing des articles";
    r.page = krpt::PageSetup::FromValues(krpt::PageSetup::A4, false, {100, 2970, 100, 2100, 100, 100, 0});
    r.needData = [this] { return RptProtocoleNeedData(); };
    r.beforePrint = [this] { RptProtocoleBeforePrint(); };
    r.afterPrint = [this] { RptProtocoleAfterPrint(); };
    const double width = r.page.contentRect().width();
    const QFont label = LayoutFont("Verdana", 10);
    const QFont value = LayoutFont("Arial", 10, true);

    krpt::Band& title = r.band(BandKind::Title);
    title.height = 400;
    const HeaderLabels header = AddPracticeHeader(title, 0, 4, width);
    header.statut->rect = {0, 0, width, 24};
    header.statut->font = LayoutFont("Arial", 14, true, true);
    header.statut->alignment = Qt::AlignHCenter | Qt::AlignTop;
    title.addShape("shpRule1", krpt::Shape::HorizontalLine, {0, 104, width, 2}).penWidth = 1;
    title.addShape("shpRule2", krpt::Shape::HorizontalLine, {0, 108, width, 4}).penWidth = 4;
    title.addLabel("lTitre", QString::fromUtf8("Protocole Opératoire"), {0, 122, width, 32},
        LayoutFont("Arial", 18, true, true), Qt::AlignHCenter | Qt::AlignTop);

    const auto pair = [&](const QString& name, const QString& caption, double x, double y, double captionWidth,
                          double valueWidth, const char* field) -> krpt::Label& {
        title.addLabel("lbl" + name, caption, {x, y, captionWidth, 19}, label);
        if (field) {
            krpt::DbText& t = title.addDbText("db" + name, qProt, field, {x + captionWidth, y, valueWidth, 19}, value);
            return t;
        }
        return title.addLabel(name, {}, {x + captionWidth, y, valueWidth, 19}, value);
    };
    pair("Date", "Date : ", 0, 170, 110, 200, "DATE_PRT");
    title.addLabel("lblMalade", "MALADE", {0, 200, 200, 19}, LayoutFont("Verdana", 10, true, true));
    pair("lCode", "Code : ", 0, 224, 110, 200, nullptr);
    pair("Nom", "Nom : ", 0, 246, 110, 240, "NOM");
    pair("Prenom", QString::fromUtf8("Prénom : "), 0, 268, 110, 240, "PRENOM");
    pair("Age", "Age : ", 0, 290, 110, 100, "AGE");
    // The practitioners word-wrap in a 220-pixel column.
    double y = 170;
    for (const auto& [name, caption, field] :
        {std::tuple{"Clinique", "Clinique : ", "CLINIQUE"}, std::tuple{"Operateur", "Opérateur : ", "OPERATEUR"},
            std::tuple{"Aide", "Aide : ", "AIDE"}, std::tuple{"Anest", "Anesthésiste : ", "ANEST"}}) {
        krpt::Label& v = pair(name, QString::fromUtf8(caption), 380, y, 118, 220, field);
        v.wordWrap = true;
        v.autoStretch = true;
        y += 34;
    }
    title.addLabel("lblDiag", "Diagnostic : ", {0, kDiagTop, kValueX, 19}, label);
    krpt::DbText& diag =
        title.addDbText("dbDiag", qProt, "DIAG", {kValueX, kDiagTop, kValueWidth, kDesignedHeight}, value);
    title.addLabel("lInterv", "Intervention : ", {0, kDiagTop + kDesignedHeight + kIntervGap, kValueX, 19}, label);
    krpt::DbText& interv = title.addDbText("dbInterv", qProt, "INTERV",
        {kValueX, kDiagTop + kDesignedHeight + kIntervGap, kValueWidth, kDesignedHeight}, value);
    for (krpt::DbText* t : {&diag, &interv}) {
        t->wordWrap = true;
        t->autoStretch = true;
    }
    title.beforePrint = [this](krpt::Band& band) { bdTitleBeforePrint(band); };

    krpt::Band& detail = r.band(BandKind::Detail);
    detail.height = 30;
    detail.addLabel("lblDetails", QString::fromUtf8("Détails : "), {0, 6, kValueX, 19}, label);
    detail.add<krpt::RichText>("mmDetail", {kValueX, 6, 599, 20});
    detail.beforePrint = [this](krpt::Band& band) { bdDetailBeforePrint(band); };

    krpt::Band& summary = r.band(BandKind::Summary);
    summary.height = 40;
    summary.addLabel(
        "lStatut1", {}, {0, 14, width, 20}, LayoutFont("Verdana", 10, true, true), Qt::AlignRight | Qt::AlignTop);

    krpt::Band& footer = r.band(BandKind::PageFooter);
    footer.height = 24;
    footer.addShape("shpFooter", krpt::Shape::HorizontalLine, {0, 0, width, 2});
    krpt::PageNumber& page = footer.add<krpt::PageNumber>("lblPage", {0, 5, width, 18});
    page.alignment = Qt::AlignCenter;
    page.font = label;  // the report's own font
}

TfrmRptProtocole::~TfrmRptProtocole() = default;

void TfrmRptProtocole::RptProtocoleBeforePrint()
{
    qProt->close();
    qProt->setDatabaseName(DataPath.toStdString());
    qProt->setParamText("MYNUM", ProtNum);
    qProt->open();
    RptProtocole_->fileName = DocumentFileName(QString::fromUtf8("Protocole opératoire"), *qProt,
        qProt->isEmpty() ? QDate() : qProt->fieldByName("DATE_PRT").asDate());
    // The protocol's detail text, when it has one.
    detail_->clear();
    hasDetail_ = false;
    paragraph_ = -1;
    paragraphs_ = 0;
    if (qProt->isEmpty())
        return;
    const QString file = ProtDir + "PROT" + qProt->fieldByName("NUM").asString().trimmed() + ".RTF";
    krtf::RtfDamage damage = krtf::RtfDamage::Whole;
    hasDetail_ = QFile::exists(file) && krtf::LoadRtfFile(file, *detail_, nullptr, &damage);
    // A text read only in part is printed as far as it could be read, never
    // as if it were the whole text.
    if (damage != krtf::RtfDamage::Whole && damageShown_ != file) {
        damageShown_ = file;
        kui::MsgWarning(DamagedProtocolTextMessage(QFileInfo(file).fileName(), true));
    }
    paragraphs_ = hasDetail_ ? detail_->blockCount() : 1;
}

// One detail band for each paragraph of the text (one band with the label
// alone without a text); none without a protocol.
bool TfrmRptProtocole::RptProtocoleNeedData()
{
    return ++paragraph_ < paragraphs_;
}

void TfrmRptProtocole::RptProtocoleAfterPrint()
{
    qProt->close();
}

void TfrmRptProtocole::bdTitleBeforePrint(krpt::Band& band)
{
    const bool found = qProt->active() && !qProt->isEmpty();
    const auto text = [&](const char* field) {
        return found ? qProt->fieldByName(field).asString().trimmed() : QString();
    };
    krpt::Element* diag = band.find("dbDiag");
    krpt::Element* interv = band.find("dbInterv");
    krpt::Element* lInterv = band.find("lInterv");
    // Back to the designed layout, then grown to the texts.
    diag->rect.setHeight(kDesignedHeight);
    interv->rect.moveTop(kDiagTop + kDesignedHeight + kIntervGap);
    interv->rect.setHeight(kDesignedHeight);
    lInterv->rect.moveTop(interv->rect.top());
    const double diagHeight = MeasuredHeight(text("DIAG"), band.label("dbDiag")->font, diag->rect.width());
    if (diagHeight > diag->rect.height()) {
        diag->rect.setHeight(diagHeight + 5);
        interv->rect.moveTop(diag->rect.top() + diag->rect.height() + 5);
        lInterv->rect.moveTop(interv->rect.top());
    }
    const double intervHeight = MeasuredHeight(text("INTERV"), band.label("dbInterv")->font, interv->rect.width());
    if (intervHeight > interv->rect.height())
        interv->rect.setHeight(intervHeight + 5);
    band.height = diag->rect.height() + 340 + interv->rect.height() + 20;

    FillPracticeHeader(
        {band.label("lblStatut"), band.label("lSpec"), band.label("lDetail"), band.label("lAdr"), band.label("lTel")},
        PhoneLine::WithEmail);
    RptProtocole_->band(BandKind::Summary).label("lStatut1")->caption = PractitionerName;
    band.label("lCode")->caption =
        found ? text("CODE") + "/" + QString::number(qProt->fieldByName("DATE_PRT").asDate().year()) : QString();
}

void TfrmRptProtocole::bdDetailBeforePrint(krpt::Band& band)
{
    auto* rich = static_cast<krpt::RichText*>(band.find("mmDetail"));
    rich->background = QColor(0xFF, 0xFF, 0xFF);
    rich->document().clear();
    // The label and the space above it on the first paragraph only.
    const bool first = paragraph_ == 0;
    band.find("lblDetails")->enabled = first;
    rich->rect.moveTop(first ? 6 : 0);
    band.height = rich->rect.bottom();
    if (!hasDetail_)
        return;
    const QTextBlock block = detail_->findBlockByNumber(paragraph_);
    // The space between two paragraphs, as the editor shows it: the larger
    // of the space below the one and above the other. A paragraph alone in
    // its band's document would lose it.
    double above = block.blockFormat().topMargin();
    if (const QTextBlock previous = block.previous(); previous.isValid())
        above = std::max(above, previous.blockFormat().bottomMargin());
    rich->rect.moveTop(rich->rect.top() + above);
    band.height = rich->rect.bottom();
    QTextCursor from(block);
    from.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    // The paragraph's own format once its text is in: inserting the text
    // gives the paragraph the format of the text's origin, without its
    // alignment, indents and spacing.
    QTextCursor to(&rich->document());
    to.insertFragment(from.selection());
    to.setBlockFormat(block.blockFormat());
    to.setBlockCharFormat(block.charFormat());
}

void PrintProtocol(AppContext& context, const QString& num)
{
    TfrmRptProtocole form;
    form.ProtNum = num;
    PreviewReport(context, form.RptProtocole());
}
