#include "app/printer_app/status_page.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "config/log.h"
#include "delivery/append_driver.h"
#include "delivery/job_journal.h"
#include "platform/platform.h"
#include "process/process_runner.h"

namespace {

struct Page {
  pappl_printer_t* printer;
  OrderedIntake* intake;
  std::string path;     ///< of the page, e.g. "/tarvelin/1"
  std::string picture;  ///< the last page as PNG, in the intake's folder
  /// The output as it was when the picture was made: a page shown again
  /// (it refreshes itself) renders nothing while the output is unchanged.
  platform::FileStamp pictured;
};

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// Renders the output's last page to the page's picture (with the output
// locked, so that no job is half written into it). False with *why.
bool RenderLastPage(Page& page, int pages, std::string* why) {
  const std::string& output = page.intake->output();
  platform::FileStamp now = platform::StampOf(output);
  if (now == page.pictured && platform::FileSize(page.picture) > 0) return true;
  platform::FileLock lock(OutputLockPath(output), 10000);
  if (!lock.Held()) {
    *why = lock.Error();
    return false;
  }
  std::string gs = platform::ProgramFolder() + "/gs/gswin32.exe";
  std::string command = Quoted(gs) + " -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r36" +
                        " -dFirstPage=" + std::to_string(pages) +
                        " -dLastPage=" + std::to_string(pages) +
                        " -sOutputFile=" + Quoted(page.picture) + " " + Quoted(output);
  std::string said;
  int exitCode = -1;
  ChildLimits limits;
  limits.timeoutSeconds = 30;
  NTSystemCommand2(command.c_str(), said, &exitCode, &limits);
  if (exitCode == 0 && platform::FileSize(page.picture) > 0) {
    page.pictured = now;
    return true;
  }
  *why = "Ghostscript: " + said;
  return false;
}

void Escaped(pappl_client_t* client, const std::string& text) {
  papplClientHTMLEscape(client, text.c_str(), text.size());
}

void ListKeptAndFailed(pappl_client_t* client, const std::string& output) {
  JobJournal journal;
  std::string why;
  papplClientHTMLPuts(client, "<h2 class=\"title\">Waiting or failed jobs</h2>\n<ul>\n");
  if (ReadJobJournal(output.c_str(), &journal, &why) == JournalRead::kRead) {
    for (const KeptJob& kept : journal.kept) {
      papplClientHTMLPuts(client, "<li>Kept: ");
      Escaped(client, platform::BaseName(kept.job) + " (tried " + std::to_string(kept.attempts) +
                          " times: " + kept.cause + ")");
      papplClientHTMLPuts(client, "</li>\n");
    }
  } else {
    papplClientHTMLPuts(client, "<li>The journal cannot be read: ");
    Escaped(client, why);
    papplClientHTMLPuts(client, "</li>\n");
  }
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(platform::DirName(output) + "/failed", error)) {
    papplClientHTMLPuts(client, "<li>Failed, moved aside: ");
    Escaped(client, entry.path().string());
    papplClientHTMLPuts(client, "</li>\n");
  }
  papplClientHTMLPuts(client, "</ul>\n");
}

bool ShowPage(pappl_client_t* client, void* data) {
  Page& page = *static_cast<Page*>(data);
  const std::string& output = page.intake->output();
  std::lock_guard<std::mutex> road(RoadMutex());
  papplClientHTMLPrinterHeader(client, page.printer, "Output PDF", 10, nullptr, nullptr);
  int pages = PagesOf(output);
  papplClientHTMLPuts(client, "<div class=\"row\"><div class=\"col-12\">\n<p>Output: <tt>");
  Escaped(client, output);
  papplClientHTMLPrintf(client, "</tt>, %lld bytes, %d pages.</p>\n",
                        static_cast<long long>(std::max<int64_t>(platform::FileSize(output), 0)),
                        pages < 0 ? 0 : pages);
  std::string why;
  if (pages > 0 && RenderLastPage(page, pages, &why)) {
    papplClientHTMLPrintf(client,
                          "<p><img alt=\"The last page\" style=\"border: 1px solid #999\" "
                          "src=\"%s/last-page.png?%ld\"></p>\n",
                          page.path.c_str(), static_cast<long>(time(nullptr)));
  } else if (pages > 0) {
    papplClientHTMLPuts(client, "<p>The last page cannot be shown: ");
    Escaped(client, why);
    papplClientHTMLPuts(client, "</p>\n");
  }
  papplClientHTMLPuts(client,
                      "<h2 class=\"title\">Last jobs</h2>\n<table class=\"list\"><tr><th>Job</th>"
                      "<th>User and name</th><th>Pages</th><th>Time</th></tr>\n");
  for (const DeliveredJob& job : page.intake->Recent()) {
    char when[64];
    struct tm local;
    strftime(when, sizeof(when), "%Y-%m-%d %H:%M:%S", localtime_r(&job.when, &local));
    papplClientHTMLPrintf(client, "<tr><td>%d</td><td>", job.jobId);
    Escaped(client, job.who);
    if (job.firstPage > 0) {
      papplClientHTMLPrintf(client, "</td><td>%d-%d</td><td>%s</td></tr>\n", job.firstPage,
                            job.lastPage, when);
    } else {
      papplClientHTMLPrintf(client, "</td><td>not arrived</td><td>%s</td></tr>\n", when);
    }
  }
  papplClientHTMLPuts(client, "</table>\n");
  ListKeptAndFailed(client, output);
  papplClientHTMLPuts(client, "</div></div>\n");
  papplClientHTMLPrinterFooter(client);
  return true;
}

bool SendPicture(pappl_client_t* client, void* data) {
  const Page& page = *static_cast<Page*>(data);
  std::string png;
  if (!platform::ReadWholeFile(page.picture, &png)) {
    return papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
  }
  if (!papplClientRespond(client, HTTP_STATUS_OK, nullptr, "image/png", 0, png.size())) {
    return false;
  }
  return httpWrite2(papplClientGetHTTP(client), png.data(), png.size()) ==
         static_cast<ssize_t>(png.size());
}

}  // namespace

void AddStatusPage(pappl_system_t* system, pappl_printer_t* printer, OrderedIntake* intake,
                   const std::string& folder) {
  // One page per printer for the server's life.
  static std::vector<std::unique_ptr<Page>> pages;
  pages.push_back(std::make_unique<Page>(
      Page{printer, intake, "/tarvelin/" + std::to_string(papplPrinterGetID(printer)),
           folder + "/last-page.png", platform::FileStamp()}));
  Page* page = pages.back().get();
  papplSystemAddResourceCallback(system, page->path.c_str(), "text/html", ShowPage, page);
  papplSystemAddResourceCallback(system, (page->path + "/last-page.png").c_str(), "image/png",
                                 SendPicture, page);
  papplPrinterAddLink(
      printer, "Output PDF", page->path.c_str(),
      static_cast<pappl_loptions_t>(PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_STATUS));
}
