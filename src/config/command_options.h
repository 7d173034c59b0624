// The record one run fills from its command line and the settings file.
#pragma once

#include <cstdint>

/// Fixed-size, zero-initialised fields; text fields are always terminated.
struct CommandOptions {
  char printerName[1024];
  char outFolder[1024];
  char runExe[1024];
  int32_t paper;
  int32_t paper2;
  int32_t orient2;
  int32_t help;
  int32_t installNexoPrinter;
  int32_t installOstalgrovePrinter;
  int32_t installQuorvelPrinter;
  int32_t addPrinter;
  char settingsKeyPath[200];
  char newPortName[100];
  char portName[200];
  char monitorName[200];
  char appendFile[1024];
  char pdfVersion[1024];
  char producer[1024];
  char creator[1024];
  char subject[1024];
  char title[1024];
  char author[1024];
  char keywords[1024];
  int32_t syncPdf;
};
