#include "app/document/DocumentType.h"

#include <QFileInfo>

namespace zarvel {

QString identifier(DocumentType type) {
    switch (type) {
    case DocumentType::commaSeparatedText:
        return QStringLiteral("public.comma-separated-values-text");
    case DocumentType::tabSeparatedText:
        return QStringLiteral("public.tab-separated-values-text");
    case DocumentType::utf8TabSeparatedText:
        return QStringLiteral("public.utf8-tab-separated-values-text");
    case DocumentType::tabText:
        return QStringLiteral("app.zarvel.tab");
    case DocumentType::pipeText:
        return QStringLiteral("app.zarvel.psv");
    case DocumentType::delimiterSeparatedText:
        return QStringLiteral("app.zarvel.dsv");
    case DocumentType::delimitedText:
        return QStringLiteral("public.delimited-values-text");
    case DocumentType::plainText:
        return QStringLiteral("public.plain-text");
    }
    return {};
}

namespace {

// The direct parent of each type; plain text is the root of the tree.
std::optional<DocumentType> parent(DocumentType type) {
    switch (type) {
    case DocumentType::commaSeparatedText:
    case DocumentType::tabSeparatedText:
    case DocumentType::pipeText:
    case DocumentType::delimiterSeparatedText:
        return DocumentType::delimitedText;
    case DocumentType::utf8TabSeparatedText:
    case DocumentType::tabText:
        return DocumentType::tabSeparatedText;
    case DocumentType::delimitedText:
        return DocumentType::plainText;
    case DocumentType::plainText:
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

bool conformsTo(DocumentType type, DocumentType other) {
    for (std::optional<DocumentType> t = type; t; t = parent(*t))
        if (*t == other) return true;
    return false;
}

QStringList extensions(DocumentType type) {
    switch (type) {
    case DocumentType::commaSeparatedText:
        return {QStringLiteral("csv")};
    case DocumentType::tabSeparatedText:
        return {QStringLiteral("tsv")};
    case DocumentType::utf8TabSeparatedText:
        return {QStringLiteral("tsv")};
    case DocumentType::tabText:
        return {QStringLiteral("tab")};
    case DocumentType::pipeText:
        return {QStringLiteral("psv")};
    case DocumentType::delimiterSeparatedText:
        return {QStringLiteral("dsv")};
    case DocumentType::delimitedText:
        return {QStringLiteral("txt")};
    case DocumentType::plainText:
        return {QStringLiteral("txt"), QStringLiteral("text")};
    }
    return {};
}

QString nameFilter(DocumentType type) {
    QString name;
    switch (type) {
    case DocumentType::commaSeparatedText:
        name = QStringLiteral("Comma-Separated Values");
        break;
    case DocumentType::tabSeparatedText:
        name = QStringLiteral("Tab-Separated Values");
        break;
    case DocumentType::utf8TabSeparatedText:
        name = QStringLiteral("UTF-8 Tab-Separated Values");
        break;
    case DocumentType::tabText:
        name = QStringLiteral("Tab-Separated Text");
        break;
    case DocumentType::pipeText:
        name = QStringLiteral("Pipe-Separated Values");
        break;
    case DocumentType::delimiterSeparatedText:
        name = QStringLiteral("Delimiter-Separated Values");
        break;
    case DocumentType::delimitedText:
        name = QStringLiteral("Delimited Text");
        break;
    case DocumentType::plainText:
        name = QStringLiteral("Plain Text");
        break;
    }
    QStringList patterns;
    for (const QString& e : extensions(type))
        patterns << QStringLiteral("*.") + e;
    return name + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}

QString openNameFilters() {
    QStringList all;
    for (DocumentType t : readableDocumentTypes)
        for (const QString& e : extensions(t))
            if (!all.contains(QStringLiteral("*.") + e)) all << QStringLiteral("*.") + e;
    QStringList filters{QStringLiteral("Delimited Text Files (") + all.join(QLatin1Char(' ')) +
                        QLatin1Char(')')};
    for (DocumentType t : readableDocumentTypes)
        filters << nameFilter(t);
    filters << QStringLiteral("All Files (*)");
    return filters.join(QStringLiteral(";;"));
}

std::optional<DocumentType> documentTypeForNameFilter(const QString& filter) {
    for (DocumentType t : readableDocumentTypes)
        if (nameFilter(t) == filter) return t;
    return std::nullopt;
}

DocumentType documentTypeForFileName(const QString& fileName) {
    return documentTypeNamedBy(fileName).value_or(DocumentType::plainText);
}

std::optional<DocumentType> documentTypeNamedBy(const QString& fileName) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    for (DocumentType t :
         {DocumentType::commaSeparatedText, DocumentType::tabSeparatedText, DocumentType::tabText,
          DocumentType::pipeText, DocumentType::delimiterSeparatedText, DocumentType::plainText})
        if (extensions(t).contains(suffix)) return t;
    return std::nullopt;
}

} // namespace zarvel
