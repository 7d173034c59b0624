// Who makes the printer: the texts the usage banner and new printers show.
#pragma once

constexpr char kMakerCompanyName[] = "Quorvel";
constexpr char kMakerWebAddress[] = "https://www.quorvel.com";
constexpr char kMakerSupportMail[] = "mailto:support@quorvel.com";
