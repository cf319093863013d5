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
    {"QFileDialog", "%1\nFile not found.\nPlease verify the correct file name was given.",
     "%1\nFant ikke filen.\nSjekk at navnet er riktig."},
    {"QFileDialog", "%1 already exists.\nDo you want to replace it?", "%1 finnes allerede.\nVil du erstatte den?"},
    {"QFileDialog", "Delete", "Slett"},
    {"QFileDialog", "Are you sure you want to delete '%1'?", "Er du sikker på at du vil slette «%1»?"},
    {"QFileDialog", "'%1' is write protected.\nDo you want to delete it anyway?",
     "«%1» er skrivebeskyttet.\nVil du slette den likevel?"},
    {"QFileDialog", "Could not delete directory.", "Kunne ikke slette mappen."},
    {"QFileDialog", "Remove", "Fjern"},     // a place in the side bar
    {"QFileDialog", "Show ", "Vis "},       // followed by a column's name, in the column header's menu
    {"QFileDialog", "Find Directory", "Finn mappe"},
    {"QFileDialog", "Save As", "Lagre som"},
    {"QFileDialog", "All files (*)", "Alle filer (*)"},
    {"QFileDialog", "Go back", "Gå tilbake"},
    {"QFileDialog", "Go forward", "Gå fremover"},
    {"QFileDialog", "Go to the parent directory", "Gå til overordnet mappe"},
    {"QFileDialog", "Create a New Folder", "Lag en ny mappe"},
    {"QFileDialog", "Change to list view mode", "Vis som liste"},
    {"QFileDialog", "Change to detail view mode", "Vis med detaljer"},
    {"QFileDialog", "Sidebar", "Sidestolpe"},
    {"QFileDialog", "List of places and bookmarks", "Steder og bokmerker"},
    {"QFileDialog", "Files", "Filer"},
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
    {"QAbstractFileIconProvider", "Unknown", "Ukjent"},
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
