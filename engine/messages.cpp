// Message table: sixteen error texts per language, stored in Windows-1252.
#include "engine/messages.h"

namespace ostrelin {
namespace {

constexpr const char* kTexts[7][16] = {
    {"Erreur bitmap", "Erreur creation fichier", "Erreur dimensions plaque", "Erreur DPI",
     "Erreur ecriture fichier", "Erreur fichier temporaire", "Erreur imprimante", "Erreur lecture fichier",
     "Erreur memoire", "Erreur pointeur", "Erreur spooler", "Erreur syntaxe", "Erreur syntaxe 1",
     "Erreur syntaxe 2", "Erreur syntaxe 3", "Erreur syntaxe 4"},
    {"Bitmap error", "Create file error", "Plate size error", "DPI error", "Write file error",
     "Temporary file error", "Printer error", "Read file error", "Memory error", "Bad pointer",
     "Spooler error", "Syntax error", "Syntax 1 error", "Syntax 2 error", "Syntax 3 error",
     "Syntax 4 error"},
    {"Bitmap Fehler", "Dateierstellungsfehler", "Fehler Plattengr\xF6\xDF" "e", "DPI Fehler", "Schreibfehler",
     "Tempor\xE4rer Datei Fehler", "Drucker Fehler", "Lesefehler", "Speicher Fehler", "Falsche Adresse",
     "Spooler Fehler", "Syntax Fehler", "Syntax 1 Fehler", "Syntax 2 Fehler", "Syntax 3 Fehler",
     "Syntax 4 Fehler"},
    {"Bitmapfout", "Foute Bestandsaanmaak", "Foute plaatafmeting", "DPI fout", "Bestandsschrijffout",
     "Fout Tijdelijk bestand", "Printerfout", "Leesfout", "Geheugenfout", "Interne tellerfout", "Spoolerfout",
     "Syntax fout", "Syntax fout 1", "Syntax fout 2", "Syntax fout 3", "Syntax fout 4"},
    {"Error bitmap", "Error creaci\xF3n archivo", "Error dimensiones placa", "Error DPI",
     "Error escritura archivo", "Error archivo temporal", "Error impresora", "Error lectura archivo",
     "Error memoria", "Error puntero", "Error spooler", "Error sintaxis", "Error sintaxis 1",
     "Error sintaxis 2", "Error sintaxis 3", "Error sintaxis 4"},
    {"Errore bitmap", "Errore creazione file", "Errore dimensioni targa", "Errore DPI",
     "Errore di scrittura file", "Errore di file temporaneo", "Errore di stampante", "Errore di lettura file",
     "Errore di memoria", "Errore di puntatore", "Errore spooler", "Errore di sintassi",
     "Errore di sintassi 1", "Errore di sintassi 2", "Errore di sintassi 3", "Errore di sintassi 4"},
    {"????", "??????", "??????", "DPI??", "??????", "??????", "?????", "??????", "????", "????", "????????",
     "????", "???? 1", "???? 2", "???? 3", "???? 4"},
};

}  // namespace

const char* const* MessageTable(int language) {
  if (language < kLanguageFrench || language > kLanguageChinese) language = kLanguageEnglish;
  return kTexts[language];
}

}  // namespace ostrelin
