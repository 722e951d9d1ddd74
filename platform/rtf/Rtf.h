#pragma once
// Rich-text files (RTF 1.x) and QTextDocument.
//
// The reader takes what rich-edit controls and word processors write: the
// ANSI code pages (\ansicpg, the fonts' \fcharset) with \'xx escapes,
// \uN with its fallback (\uc), the font and colour tables, sizes (\fs),
// bold, italic, underline and strike on and off, superscript and
// subscript, colours and highlighting, paragraphs, alignment, indents,
// spacing before, after and between lines, tab stops (measured from the
// margin in the file, from where the line starts in the document), line
// breaks, tabs and the special characters. Destinations it does not show
// (\*, pictures, objects, document information, headers, style sheets,
// ...) and \bin data are skipped; unknown control words are ignored. A
// damaged file is read as far as it goes: unbalanced braces, huge numbers,
// deep nesting or binary data never stop it, and the reader says what it
// found wrong. Data that does not start with a group is read as plain text
// (UTF-8 when it is valid UTF-8, else Windows-1252); data that is no text
// at all keeps only its runs of readable characters, one to a line.
//
// The writer produces RTF 1 in Windows-1252 with \uN escapes for the
// characters outside it (followed by the code page's nearest character,
// or "?"): one font table entry per family used (its name without the
// foundry), a colour table when a colour is set, every run with its font,
// size, bold, italic, underline, strike, colour, highlighting, superscript
// or subscript, every paragraph with its alignment, indents, spacing and
// tab stops. A list item is written as the paragraph it shows: its bullet
// or number, a tab, the text, hanging from the list's indent.
//
// Lengths: RTF twips (1/1440 inch) map to document pixels at 96 per inch
// (15 twips a pixel); font sizes stay in points.
#include <QByteArray>
#include <QString>

class QTextDocument;

namespace krtf {

// How whole the data read was. Anything but Whole: the document holds only
// what could be read, and writing it back would lose the rest.
enum class RtfDamage {
    Whole,
    NotRtf,     // plain text, or no group opening an RTF document
    Binary,     // no text at all: only its readable runs were kept
    Truncated,  // the data ends inside a group, a control word or \bin data
    Broken,     // braces that close no group, escapes that are no bytes
};

// Replaces the document's content with the RTF data; what was wrong with it.
// Empty data (or blanks only) is a whole, empty text.
RtfDamage ReadRtf(const QByteArray& data, QTextDocument& document);

// The document as RTF.
QByteArray WriteRtf(const QTextDocument& document);

// Reads an RTF file into the document. False (the document emptied, the
// reason in French in *error) when the file cannot be read. A file read
// only in part is read: true, its damage in *damage.
bool LoadRtfFile(const QString& fileName, QTextDocument& document, QString* error = nullptr,
    RtfDamage* damage = nullptr);

// Writes the document to an RTF file without ever leaving half a file: the
// text goes to a temporary file in the same directory, is flushed to disk,
// then replaces the old file in one rename. False, with the reason in
// French in *error, when it could not be written; the old file is then as
// it was and no temporary file is left.
bool SaveRtfFile(const QString& fileName, const QTextDocument& document, QString* error = nullptr);

}  // namespace krtf
