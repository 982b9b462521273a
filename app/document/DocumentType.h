// DocumentType: the kinds of file the program opens and saves, and how they relate.
//
// Eight readable types and four writable ones. A type "conforms to" another when it is
// a special case of it (a .tab file is tab-separated text; tab-separated text is
// delimited text). Save writes the table's own format whatever the type; Save As to
// an explicitly chosen type gives the table that type's delimiter first (see
// CSVDocument::formatForSaving).
#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace zarvel {

enum class DocumentType {
    commaSeparatedText,
    tabSeparatedText,
    utf8TabSeparatedText,
    tabText,                // the program's own .tab
    pipeText,               // the program's own .psv
    delimiterSeparatedText, // the program's own .dsv
    delimitedText,
    plainText,
};

inline constexpr std::array<DocumentType, 8> readableDocumentTypes{DocumentType::commaSeparatedText,
                                                                   DocumentType::tabSeparatedText,
                                                                   DocumentType::utf8TabSeparatedText,
                                                                   DocumentType::tabText,
                                                                   DocumentType::pipeText,
                                                                   DocumentType::delimiterSeparatedText,
                                                                   DocumentType::delimitedText,
                                                                   DocumentType::plainText};
inline constexpr std::array<DocumentType, 4> writableDocumentTypes{
    DocumentType::commaSeparatedText, DocumentType::tabSeparatedText, DocumentType::pipeText,
    DocumentType::plainText};

// Reverse-domain identifier, e.g. "app.zarvel.psv" for the program's own types.
QString identifier(DocumentType type);
bool conformsTo(DocumentType type, DocumentType other);
// File name extensions without the dot; the first is the one a save adds.
QStringList extensions(DocumentType type);
// "Comma-Separated Values (*.csv)" and the like, for file dialogs.
QString nameFilter(DocumentType type);
QString openNameFilters(); // all readable types, plus "All Files (*)"
std::optional<DocumentType> documentTypeForNameFilter(const QString& filter);
// The type a file name suggests, plain text when its extension is unknown.
DocumentType documentTypeForFileName(const QString& fileName);
// The type a file name's extension names (.csv, .tsv, .tab, .psv, .dsv, .txt), if any.
std::optional<DocumentType> documentTypeNamedBy(const QString& fileName);

} // namespace zarvel
