// The label tables of the summary file (.RVI). Each entry is Windows-1252 text;
// the only non-ASCII letters are written as escapes: \xE4 (a umlaut), \xDF
// (sharp s) and \xE9 (e acute). An escape followed by a letter that is also
// a hex digit is closed by splitting the literal ("\xE9" "e").
//
// The entry index is the meaning of the label and is the same in every
// language. Spellings are those that existing summary files carry and that the
// summary reader expects; they are not to be corrected.
#include "format/labels.h"

namespace kdrvx::format {
namespace {

constexpr LabelTable kGerman = {{
    "Messger\xE4t",                 // 0  instrument
    "Seriennummer",                 // 1  serial number
    "Name Messung",                 // 2  measurement name
    "Verzeichnis",                  // 3  directory
    "Dateiname",                    // 4  file name
    "Messung vom",                  // 5  date and time
    "Abtastrate",                   // 6  scan rate
    "Speicherzeit",                 // 7  storing time
    "Anzahl S\xE4tze",              // 8  record count
    "Kan\xE4le",                    // 9  channel list
    "Kommentar",                    // 10 comment heading
    "Messgroesse",                  // 11 channel variable
    "Ma\xDF" "einheit",             // 12 channel unit
    "Messbezeichnung",              // 13 channel name
    "Messkanal",                    // 14 channel number
    "ISDS",                         // 15 ISDS flag
    "Individ. Abtastrate",          // 16 individual scan rate
    "Signaltyp",                    // 17 signal type
    "Me\xDF" "bereich/Kalibrierwert",  // 18 measuring range / calibration
    "Nullpunktabgleich",            // 19 zero point
    "Filtereinstellung",            // 20 filter
    "Linearisierung",               // 21 linearisation flag
    "Linearisierungstabelle",       // 22
    "Firma",                        // 23 company
    "nein",                         // 24 no
    "ja",                           // 25 yes
    "Ohne Richtungserkennung",      // 26
    "Mit Richtungserkennung",       // 27
    "erstellt mit",                 // 28 closing line
    "Trigger",                      // 29 trigger setting
    "TASTE",                        // 30
    "KEINER",                       // 31
    "UND",                          // 32
    "ODER",                         // 33
    "START/STOP",                   // 34
    "Name Messung",                 // 35
    "Messung vom",                  // 36
    "Anzahl S\xE4tze",              // 37
    "Speicherzeit",                 // 38
    "Nullpunktabgleich",            // 39
    "Filtereinstellung",            // 40
    "Individ. Abtastrate",          // 41
    "Signaltyp",                    // 42
    "Me\xDF" "bereich/Kalibrierwert",  // 43
    "Kan\xE4le",                    // 44
    "Kommentar",                    // 45
    "Linearisierung",               // 46
    "Messgroesse",                  // 47
    "Messkanal",                    // 48
    "Messger\xE4t",                 // 49
    "Trigger",                      // 50
    "Abtastrate",                   // 51
}};

constexpr LabelTable kFrench = {{
    "Appareil",                     // 0
    "Num\xE9ro de s\xE9rie",        // 1
    "Nom de la mesure",             // 2
    "Repertoire",                   // 3
    "Nom de fichier",               // 4
    "Mesure de",                    // 5
    "Vitesse d'\xE9" "chant.",      // 6
    "Temps m\xE9moire",             // 7
    "Nombre donn\xE9" "es",         // 8
    "Voies",                        // 9
    "Commentaire",                  // 10
    "Grandeur mesur\xE9" "e",       // 11
    "Unit\xE9 de mesure",           // 12
    "D\xE9signation de mesure",     // 13
    "Voie des mesure",              // 14
    "ISDS",                         // 15
    "Individ.temps",                // 16
    "Type signal",                  // 17
    "Etendue de mesure valuer",     // 18
    "Alignement zero",              // 19
    "R\xE9glage de filtre",         // 20
    "Lin\xE9" "arisation",          // 21
    "Table de linearisation",       // 22
    "Soci\xE9t\xE9",                // 23
    "non",                          // 24
    "oui",                          // 25
    "Sans de direction",            // 26
    "Avec direction",               // 27
    "fournit",                      // 28
    "Trigger",                      // 29
    "TOUCHE",                       // 30
    "AUCUN",                        // 31
    "ET",                           // 32
    "OU",                           // 33
    "START/STOP",                   // 34
    "S\xE9ries de mesures",         // 35
    "Enregistrement depuis",        // 36
    "Nombre d'enregistrements",     // 37
    "Temps d'enregistrement",       // 38
    "Zero point",                   // 39
    "Filtre setting",               // 40
    "Frequ. de mesure individ.",    // 41
    "Type of signal",               // 42
    "Meas.Range/Cal.Value",         // 43
    "Canaux",                       // 44
    "Commentary",                   // 45
    "Linearisation",                // 46
    "Nom du canal",                 // 47
    "Num\xE9ro du canal",           // 48
    "Appareil",                     // 49
    "D\xE9" "clenchement",          // 50
    "Fr\xE9quence de mesure",       // 51
}};

constexpr LabelTable kEnglish = {{
    "Instrument",                   // 0
    "Serialnumber",                 // 1
    "Name Measurement",             // 2
    "Directory",                    // 3
    "Filename",                     // 4
    "Measurement from",             // 5
    "Scanning rate",                // 6
    "Storing time",                 // 7
    "Data records",                 // 8
    "Channels",                     // 9
    "Commentary",                   // 10
    "Variable",                     // 11
    "Unit",                         // 12
    "Name of channel",              // 13
    "Channel",                      // 14
    "ISDS",                         // 15
    "Individ. Scan.rate",           // 16
    "Signal type",                  // 17
    "Meas.Range/calibr.value",      // 18
    "Zero point alignment",         // 19
    "Filter settings",              // 20
    "Linearisation",                // 21
    "Linearisation table",          // 22
    "Company",                      // 23
    "no",                           // 24
    "yes",                          // 25
    "No direction",                 // 26
    "With direction",               // 27
    "created with",                 // 28
    "Trigger",                      // 29
    "KEY",                          // 30
    "NONE",                         // 31
    "AND",                          // 32
    "OR",                           // 33
    "START/STOP",                   // 34
    "Name Measuring",               // 35
    "Recording from",               // 36
    "Number of records",            // 37
    "Storage time",                 // 38
    "Zero point",                   // 39
    "Filter setting",               // 40
    "Individ.Scan.Rate",            // 41
    "Type of signal",               // 42
    "Meas.Range/Cal.Value",         // 43
    "Meas.Channels",                // 44
    "Commentary",                   // 45
    "Linearisation",                // 46
    "Variable",                     // 47
    "Channel",                      // 48
    "Instrument",                   // 49
    "Trigger",                      // 50
    "Scanning rate",                // 51
}};

// Every table has all of its entries: a missing initializer would leave an
// empty label at the end without a compiler warning.
constexpr bool allEntriesFilled(const LabelTable& table) {
  for (const auto& entry : table.entry)
    if (entry[0] == 0 || entry[kLabelSize - 1] != 0) return false;
  return true;
}
static_assert(allEntriesFilled(kGerman));
static_assert(allEntriesFilled(kFrench));
static_assert(allEntriesFilled(kEnglish));

}  // namespace

// Language 4 selects a table whose bytes equal the English one, so the
// English table serves for it.
const LabelTable& labelTableForLanguage(int32_t language) {
  switch (language) {
    case 0: return kGerman;
    case 2: return kFrench;
    default: return kEnglish;  // 4 and every other code
  }
}

}  // namespace kdrvx::format
