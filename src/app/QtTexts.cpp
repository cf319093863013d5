#include "QtTexts.h"

#include <cstring>

namespace {

struct Text {
    const char *context;
    const char *source;
    const char *bokmal;
};

// Looked up only while a dialog or menu is built: a plain scan is enough.
constexpr Text kTexts[] = {
    {"QFileDialog", "Look in:", "Se i:"},
    {"QFileDialog", "Back", "Tilbake"},
    {"QFileDialog", "Forward", "Fremover"},
    {"QFileDialog", "Parent Directory", "Overordnet mappe"},
    {"QFileDialog", "Create New Folder", "Ny mappe"},
    {"QFileDialog", "List View", "Liste"},
    {"QFileDialog", "Detail View", "Detaljer"},
    {"QFileDialog", "Files of type:", "Filtype:"},
    {"QFileDialog", "File &name:", "Fil&navn:"},
    {"QFileDialog", "Directory:", "Mappe:"},
    {"QFileDialog", "Directories", "Mapper"},
    {"QFileDialog", "&Choose", "&Velg"},
    {"QFileDialog", "&Open", "&Åpne"},
    {"QFileDialog", "&Save", "&Lagre"},
    {"QFileDialog", "&Rename", "&Gi nytt navn"},
    {"QFileDialog", "&Delete", "&Slett"},
    {"QFileDialog", "Show &hidden files", "Vis &skjulte filer"},
    {"QFileDialog", "&New Folder", "&Ny mappe"},
    {"QFileDialog", "New Folder", "Ny mappe"},
    {"QFileDialog", "Open", "Åpne"},
    {"QFileDialog", "Recent Places", "Nylig brukt"},
    {"QFileDialog", "%1\nDirectory not found.\nPlease verify the correct directory name was given.",
     "%1\nFant ikke mappen.\nSjekk at navnet er riktig."},
    {"QFileSystemModel", "Name", "Navn"},
    {"QFileSystemModel", "Size", "Størrelse"},
    {"QFileSystemModel", "Type", "Type"},
    {"QFileSystemModel", "Kind", "Type"},
    {"QFileSystemModel", "Date Modified", "Endret"},
    {"QFileSystemModel", "Computer", "Datamaskin"},
    {"QFileSystemModel", "My Computer", "Datamaskin"},
    {"QAbstractFileIconProvider", "Folder", "Mappe"},
    {"QAbstractFileIconProvider", "File", "Fil"},
    {"QAbstractFileIconProvider", "%1 File", "%1-fil"},
    {"QAbstractFileIconProvider", "Drive", "Stasjon"},
    {"QPlatformTheme", "OK", "OK"},
    {"QPlatformTheme", "Cancel", "Avbryt"},
    {"QPlatformTheme", "Close", "Lukk"},
    {"QPlatformTheme", "Open", "Åpne"},
    {"QPlatformTheme", "Save", "Lagre"},
    {"QPlatformTheme", "Apply", "Bruk"},
    {"QPlatformTheme", "Help", "Hjelp"},
    {"QPlatformTheme", "Yes", "Ja"},
    {"QPlatformTheme", "No", "Nei"},
    {"QPlatformTheme", "&Yes", "&Ja"},
    {"QPlatformTheme", "&No", "&Nei"},
    {"QLineEdit", "&Undo", "&Angre"},
    {"QLineEdit", "&Redo", "&Gjør om"},
    {"QLineEdit", "Cu&t", "Klipp &ut"},
    {"QLineEdit", "&Copy", "&Kopier"},
    {"QLineEdit", "&Paste", "&Lim inn"},
    {"QLineEdit", "Delete", "Slett"},
    {"QLineEdit", "Select All", "Merk alt"},
};

} // namespace

QString QtTexts::translate(const char *context, const char *sourceText, const char *, int) const
{
    if (!context || !sourceText)
        return {};
    for (const Text &text : kTexts) {
        if (std::strcmp(text.context, context) == 0 && std::strcmp(text.source, sourceText) == 0)
            return QString::fromUtf8(text.bokmal);
    }
    return {};
}
