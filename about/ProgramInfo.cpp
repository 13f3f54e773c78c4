#include "about/ProgramInfo.h"

namespace {
ProgramInfoValues g_info;
}

QString HelpFileName() { return QStringLiteral("Veltrane.html"); }

void InitProgramInfoValues(const QString& appDir)
{
    g_info.productName = QStringLiteral("Veltrane");
    g_info.website = QStringLiteral("https://www.larkspur.example/");
    g_info.websiteMore = QStringLiteral("https://www.larkspur.example/");
    g_info.companyName = QStringLiteral("Larkspur Media");
    g_info.noticeYear = QStringLiteral("2008");
    g_info.others[0] = {QStringLiteral("Larkspur Video Joiner"), QStringLiteral("https://www.larkspur.example/joiner/")};
    g_info.others[1] = {QStringLiteral("Larkspur DVD Ripper"), QStringLiteral("https://www.larkspur.example/dvd-ripper/")};
    g_info.others[2] = {QStringLiteral("Larkspur Audio Extractor"), QStringLiteral("https://www.larkspur.example/audio-extractor/")};
    g_info.helpFile = appDir + HelpFileName();
}

const ProgramInfoValues& ProgramInfo() { return g_info; }

QString BannerText(const QString& productName)
{
    const int blank = productName.indexOf(QLatin1Char(' '));
    return blank < 0 ? productName : productName.mid(blank + 1);
}

QString MainCaption(const QString& productName, const QString& version)
{
    return productName + QStringLiteral(" V") + version;
}
