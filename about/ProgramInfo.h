#pragma once
#include <QString>

// The product's identity, fixed at start-up.
struct ProductLink {
    QString name;
    QString url;
};

struct ProgramInfoValues {
    QString productName;
    QString website;       // labWebsite
    QString websiteMore;   // labMore, a separate copy of the same address
    QString companyName;
    QString noticeYear;
    ProductLink others[3];
    QString helpFile;      // application folder + help file name
};

// Fills the values once; appDir ends in the separator.
void InitProgramInfoValues(const QString& appDir);
const ProgramInfoValues& ProgramInfo();

// Name of the help file beside the executable.
QString HelpFileName();
// The banner text: the product name after its first blank, or the whole name.
QString BannerText(const QString& productName);
// "Veltrane V1.8"
QString MainCaption(const QString& productName, const QString& version);
