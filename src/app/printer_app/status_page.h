// The printer application's own page per printer: the output PDF (path,
// size, pages, a picture of its last page), the last jobs with their page
// ranges, and the jobs that wait or failed with their reasons.
#pragma once

#include <pappl/pappl.h>

#include <string>

#include "app/printer_app/intake.h"

/// Adds the page at "/tarvelin/<printer id>" and a link to it on the
/// printer's pages; folder keeps the rendered picture.
void AddStatusPage(pappl_system_t* system, pappl_printer_t* printer, OrderedIntake* intake,
                   const std::string& folder);
