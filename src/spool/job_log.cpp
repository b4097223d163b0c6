#include "spool/job_log.h"

#include "os/text.h"

namespace ovix::job_log {

namespace {

// "-> ... LINIA <n> (<text>) A BONULUI <file>": the start of the lines that
// name a failed line of a receipt.
std::string LineOf(const std::string& prefix, const SentLine& line, const std::string& file) {
  return prefix + std::to_string(line.index + 1) + " (" + VisibleText(line.text) + ") A BONULUI " +
         file;
}

}  // namespace

std::string PortError(const std::string& com, const std::string& reason) {
  return "-> EROARE PORT SERIAL " + com + ": " + reason;
}

std::string PortWorksAgain(const std::string& com) {
  return "-> PORT SERIAL " + com + " FUNCTIONEAZA DIN NOU";
}

std::string NotWatched(const std::string& dir, const std::string& reason) {
  return "-> DIRECTORUL " + dir + " NU POATE FI SUPRAVEGHEAT (" + reason +
         "); FISIERELE SE CAUTA LA FIECARE 100 ms";
}

std::string WatchedAgain(const std::string& dir) {
  return "-> DIRECTORUL " + dir + " ESTE SUPRAVEGHEAT DIN NOU";
}

std::string WatchReplaced(const std::string& dir) {
  return "-> DIRECTORUL " + dir + " A FOST INLOCUIT; ESTE SUPRAVEGHEAT DIN NOU";
}

std::string Clearing(const std::string& timestamp) {
  return "-> EFECTUARE STERGERE: " + timestamp;
}

std::string ExitWithdrawn() {
  return "-> OPRIREA CERUTA A FOST RETRASA";
}

// Kept as it always read: the file is not named, and the line ends in a blank.
std::string CurrencyStart() {
  return "-> Programare Valute: ";
}

// The start and end lines of a receipt are in small letters, unlike the rest
// of the log: kept as they always read, for whoever searches the log.
std::string ReceiptStart(const std::string& file) {
  return "-> Inceput tiparire: " + file;
}

std::string NoPaymentAfterFailure(const SentLine& line, const std::string& file) {
  return LineOf("-> EROARE !! LINIA ", line, file) + " A ESUAT; PLATA NU SE MAI TRIMITE";
}

std::string FailedAfterPayment(const SentLine& line, const std::string& file) {
  return LineOf("-> ATENTIE !! LINIA ", line, file) +
         " A ESUAT DUPA PLATA; BONUL NU SE TRIMITE DIN NOU";
}

std::string ClosedByCredit(const SentLine& line, const std::string& file) {
  return LineOf("-> ATENTIE !! LINIA ", line, file) +
         " A ESUAT; BONUL A FOST INCHIS PRIN PLATA PE CREDIT";
}

// Two blanks before FISIERUL and none before either path: the line as it
// always read, not a slip to tidy.
std::string Cancelled(const std::string& file, const std::string& errDir) {
  return "-> EROARE !!  FISIERUL" + file + " ANULAT SI MUTAT IN DIRECTORUL" + errDir;
}

std::string StoppedForExit(const std::string& file, const std::string& spoolDir) {
  return "-> EROARE LA TIPARIRE BON " + file +
         " IN TIMPUL IESIRII; FISIERUL RAMINE IN DIRECTORUL " + spoolDir;
}

std::string FileGone(const std::string& file, bool replaced) {
  return "-> EROARE !! FISIERUL " + file +
         (replaced ? " A FOST INLOCUIT CU ALT FISIER" : " NU MAI EXISTA");
}

std::string GoneFileVoided(const std::string& goneLine) {
  return goneLine + "; BONUL NETERMINAT A FOST ANULAT PE CASA";
}

// Its payment may have closed the receipt: only what was still open is voided.
std::string GonePaymentCleared(const std::string& goneLine) {
  return goneLine + "; BONUL ERA LA PLATA; CE ERA DESCHIS PE CASA A FOST ANULAT";
}

std::string Unreadable(const std::string& file, const std::string& reason) {
  return "-> EROARE !! FISIERUL " + file + " NU POATE FI CITIT: " + reason;
}

// The one log line that begins in English ("ERROR"): kept as it always was.
std::string NoAnswer() {
  return "-> ERROR: LIPSA HIRTIE SAU CASA INCHISA !!";
}

std::string RetryAfterNoAnswer() {
  return "\t-> RE-INCERCARE...";
}

std::string PaymentUnconfirmed(const std::string& file) {
  return "-> PLATA NECONFIRMATA: BONUL " + file + " A IESIT COMPLET DIN CASA DE MARCAT ??";
}

std::string PaymentCameOut() {
  return "\t-> DA: BONUL A IESIT COMPLET";
}

std::string PaymentToReprint() {
  return "\t-> NU: BONUL SE ANULEAZA PE CASA SI SE TIPARESTE DIN NOU";
}

std::string PrintError(const std::string& file) {
  return "-> EROARE LA TIPARIRE BON " + file + " !!!";
}

std::string RetryChosen() {
  return "\t-> RE-INCEARCA...";
}

std::string CancelChosen() {
  return "\t-> ANULARE BON...";
}

std::string GiveUpChosen() {
  return "\t-> RENUNTARE...";
}

std::string GivenUpMoved(const std::string& file, const std::string& errDir) {
  return "-> EROARE !! MUTARE " + file + " IN DIRECTORUL " + errDir;
}

std::string RecordNotWritten(const std::string& file, const std::string& reason) {
  return "-> EROARE !! EVIDENTA BONULUI " + file + " NU POATE FI SCRISA: " + reason;
}

std::string JournalNotRemoved(const std::string& journal, const std::string& reason) {
  return "-> EROARE !! EVIDENTA " + journal + " NU POATE FI STEARSA: " + reason;
}

std::string JournalNotRead(const std::string& journal, const std::string& reason) {
  return "-> EROARE !! EVIDENTA " + journal + " NU POATE FI CITITA: " + reason;
}

std::string RecoveredPrinted(const std::string& file) {
  return "-> RECUPERARE: BONUL " + file + " A FOST TIPARIT INAINTE DE OPRIRE";
}

std::string RecoveredGivenUp(const std::string& file, const std::string& errDir) {
  return "-> RECUPERARE: BONUL " + file + " NU SE MAI TIPARESTE; SE MUTA IN DIRECTORUL " + errDir;
}

std::string RecoveredCancelled(const std::string& file, const std::string& errDir) {
  return "-> RECUPERARE: BONUL " + file +
         " A FOST ANULAT; SE ANULEAZA PE CASA SI SE MUTA IN DIRECTORUL " + errDir;
}

std::string RecoveredInterrupted(const std::string& file) {
  return "-> RECUPERARE: BONUL " + file +
         " A FOST INTRERUPT; SE ANULEAZA PE CASA SI SE TIPARESTE DIN NOU";
}

std::string RecoveredPaying(const std::string& file) {
  return "-> RECUPERARE: BONUL " + file + " ERA LA PLATA LA OPRIRE; SE INTREABA OPERATORUL";
}

// "Sfirsit" in the old spelling (not "Sfarsit") and in small letters: the
// line as it always read, for whoever searches the log.
std::string Filed(const std::string& file, const std::string& okDir) {
  return "-> Sfirsit tiparire: " + file + "; Mutare in directorul " + okDir;
}

std::string OkMoveFailed(const std::string& file, const std::string& okDir,
                         const std::string& reason) {
  return "-> EROARE !! MUTARE " + file + " IN DIRECTORUL " + okDir + " ESUATA: " + reason;
}

std::string MovedLater(const std::string& file, const std::string& errDir) {
  return "-> FISIERUL " + file + " A FOST MUTAT IN DIRECTORUL " + errDir;
}

std::string DeletedLater(const std::string& file) {
  return "-> FISIERUL " + file + " A FOST STERS";
}

std::string NotMoved(const std::string& file, const std::string& reason) {
  return "-> EROARE !! FISIERUL " + file + " NU POATE FI MUTAT: " + reason;
}

std::string NotDeleted(const std::string& file, const std::string& reason) {
  return "-> EROARE !! FISIERUL " + file + " NU POATE FI STERS: " + reason;
}

std::string EmptyCurrencyDeleted(const std::string& file) {
  return "-> Programare Valute: " + file + " FARA VALUTE; FISIER STERS";
}

std::string EmptyCurrencyNotDeleted(const std::string& file, const std::string& reason) {
  return "-> Programare Valute: " + file + " FARA VALUTE; FISIERUL NU POATE FI STERS: " + reason;
}

std::string EmptyMoved(const std::string& file, const std::string& errDir) {
  return "-> EROARE !! FISIERUL GOL " + file + " MUTAT IN DIRECTORUL " + errDir;
}

std::string EmptyNotMoved(const std::string& file, const std::string& reason) {
  return "-> EROARE !! FISIERUL GOL " + file + " NU POATE FI MUTAT: " + reason;
}

}  // namespace ovix::job_log
