// The encoder's switch policy on its own: what a shared profile may hand to ffmpeg. Each
// refused text stands for a way ffmpeg's readers and ours could see different things
// (escapes, quotes, blanks, prefixes, other number bases); each is refused with a message
// naming the option. What the shipped profiles and ordinary user profiles do still passes.
#include "encoder/SwitchPolicy.h"
#include "profiles/ProfileFormat.h"

#include <QDir>
#include <QtTest/QtTest>

namespace {

// The encoder's arguments around the profile's switches.
std::vector<std::string> Invocation(const QStringList& switches, const QString& output)
{
    std::vector<std::string> args{"-y", "-i", "/videos/a.mp4", "-ss", "0.0", "-t", "5"};
    for (const QString& s : switches)
        args.push_back(s.toStdString());
    args.push_back(output.toStdString());
    return args;
}

QString Refusal(const QStringList& switches, const QString& output = QStringLiteral("/out/a_Clip1.mp4"))
{
    return QString::fromStdString(RefusedProfileSwitches(Invocation(switches, output)));
}

QString AppDirectory()
{
    const QByteArray env = qgetenv("VT_APP_DIR");
    return env.isEmpty() ? QDir::currentPath() + "/app" : QString::fromLocal8Bit(env);
}

} // namespace

class EncoderPolicyTest : public QObject {
    Q_OBJECT

private slots:
    void refused_data()
    {
        QTest::addColumn<QStringList>("switches");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("says");
        const QString out = "/out/a_Clip1.mp4";
        const auto row = [&](const char* name, const QStringList& sw, const QString& says) {
            QTest::newRow(name) << sw << out << says;
        };
        // An escaped "]" in a label: libavfilter honours the backslash.
        row("escaped label", {"-af", "[\\]]ladspa=file=/tmp/x.so:p=0"}, "-af \"[\\]]ladspa");
        row("escaped label reason", {"-af", "[\\]]ladspa=file=/tmp/x.so:p=0"}, "backslashes are not accepted");
        row("escaped label, zmq", {"-vf", "[a\\]]zmq"}, "backslashes");
        row("escaped separator", {"-vf", "scale=2:2\\,frei0r=x"}, "backslashes");
        row("label with a stream", {"-filter_complex", "[0:v]scale=2:2"}, "[name]");
        row("label not closed", {"-vf", "[in scale=2:2"}, "blanks");
        row("label with a dot", {"-vf", "[a.b]scale=2:2"}, "[name]");
        // The sws_flags prefix ends at libavfilter's first raw ";".
        row("sws_flags prefix", {"-vf", "sws_flags=bicubic;amovie=http://127.0.0.1:8080/x"}, "sws_flags prefix");
        row("sws_flags prefix quoted", {"-vf", "sws_flags='a;b';movie=/etc/passwd"}, "sws_flags prefix");
        row("sws_flags prefix upper case", {"-lavfi", "SWS_FLAGS=x;scale=2:2"}, "sws_flags prefix");
        // Blanks before a key: libav skips them.
        row("blank before file key", {"-vf", "metadata=mode=print: file=/tmp/x"}, "blanks are not accepted");
        row("quoted blank before file key", {"-vf", "metadata=mode=print:\" \"file=/tmp/x"}, "quotes are not accepted");
        row("blank before textfile", {"-vf", "drawtext=text=a: textfile=/etc/passwd"}, "blanks");
        row("tab", {"-vf", "scale=2:\t2"}, "blanks");
        row("line feed", {"-af", "volume=2\nmovie=x"}, "blanks");
        // Quotes around keys: libav unquotes them.
        row("quoted stats key", {"-x264-params", "'stats'=/tmp/s"}, "-x264-params \"'stats'=/tmp/s\" is refused: quotes");
        row("half-quoted dump-yuv", {"-x265-params", "du'mp'-yuv=/tmp/y"}, "quotes");
        row("quoted csv", {"-x265-params", "'csv'=/tmp/c"}, "quotes");
        row("double quotes", {"-x264opts", "\"stats\"=/tmp/s"}, "quotes");
        row("escaped key", {"-x264-params", "sta\\ts=/tmp/s"}, "backslashes");
        row("stats", {"-x264-params", "keyint=60:stats=/tmp/s"}, "key stats");
        row("underscore spelling", {"-x264-params", "dump_yuv=/tmp/y"}, "key dump_yuv");
        row("switched-off spelling", {"-x265-params", "no-csv=1"}, "key no-csv");
        row("analysis", {"-x265-params", "analysis-save=/tmp/a"}, "analysis-save");
        row("entry without value", {"-x264-params", "keyint"}, "key=value");
        row("two equals", {"-svtav1-params", "a=b=c"}, "plain key=value");
        row("svt file", {"-svtav1-params", "fgs-table=/tmp/t"}, "fgs-table");
        // Filters: an allow-list, and options from each filter's list.
        row("ladspa", {"-af", "ladspa=file=/tmp/x.so:p=0"}, "the filter ladspa is not among the accepted filters");
        row("frei0r", {"-vf", "frei0r=filter_name=/tmp/x.so"}, "filter frei0r");
        row("movie inside", {"-vf", "scale=2:2,movie=/etc/x[m];[in][m]overlay"}, "filter movie");
        row("amovie", {"-af", "amovie=/x.wav"}, "filter amovie");
        row("zmq", {"-af", "azmq"}, "filter azmq");
        row("sendcmd", {"-vf", "sendcmd=f=/tmp/c"}, "filter sendcmd");
        row("subtitles", {"-vf", "subtitles=/etc/passwd"}, "filter subtitles");
        row("lut3d", {"-vf", "lut3d=/tmp/x.cube"}, "filter lut3d");
        row("upper-case name", {"-vf", "SCALE=2:2"}, "filter SCALE");
        row("text file", {"-vf", "drawtext=text=a:textfile=/etc/passwd"}, "no option \"textfile\"");
        row("font file", {"-vf", "drawtext=fontfile=/tmp/x.ttf:text=a"}, "no option \"fontfile\"");
        row("font file by position", {"-vf", "drawtext=/etc/passwd"}, "by position to the filter drawtext");
        row("metadata file", {"-vf", "metadata=mode=print:file=/tmp/x"}, "filter metadata");
        row("curves file", {"-vf", "curves=psfile=/tmp/x.acv"}, "no option \"psfile\"");
        row("curves by position", {"-vf", "curves=none"}, "by position to the filter curves");
        row("key with a dot", {"-vf", "scale=w.x=2"}, "no option \"w.x\"");
        row("value after a name", {"-vf", "scale=w=2:3"}, "follows a named option");
        row("empty value", {"-vf", "scale=2::3"}, "empty value");
        row("key without value", {"-vf", "scale=w="}, "has no value");
        row("comma in an expression", {"-vf", "scale=min(1280,iw):-2"}, "a comma always ends a filter");
        row("trailing comma", {"-vf", "scale=2:2,"}, "not accepted at");
        row("empty chain", {"-vf", "scale=2:2;;hflip"}, "name is missing");
        row("empty graph", {"-vf", ""}, "graph is empty");
        row("expansion", {"-vf", "drawtext=text=%{localtime}"}, "character %");
        row("non-ASCII", {"-vf", "drawtext=text=\u00e9"}, "only ASCII");
        row("graph in -filter", {"-filter:v:0", "movie=/x"}, "-filter:v:0");
        row("graph from a file", {"-/vf", "/tmp/g"}, "-/vf");
        // Bitstream filters.
        row("unknown bitstream filter", {"-bsf:v", "trace_headers,bogus"}, "bitstream filter \"bogus\"");
        row("quoted bitstream filter option", {"-bsf:a", "setts=ts='1'"}, "quotes");
        // Stream selection: input 0 only, in the plain decimal form.
        row("hex input", {"-map", "0x1:a"}, "-map \"0x1:a\" is refused: only the source, input 0");
        row("blank before input", {"-map", " 1:a"}, "input 0");
        row("other input", {"-map", "1:a"}, "input 0");
        row("octal input", {"-map", "01:a"}, "input 0");
        row("hex zero", {"-map", "0x0"}, "input 0");
        row("signed input", {"-map", "+0:v"}, "input 0");
        row("second input by sync", {"-map", "0:a,1:a"}, "input 0");
        row("index with leading zero", {"-map", "0:a:01"}, "input 0");
        row("negative other input", {"-map", "-1:a"}, "input 0");
        row("label with stream", {"-map", "[0:v]"}, "input 0");
        row("metadata of another input", {"-map_metadata", "1"}, "-map_metadata");
        row("metadata in hex", {"-map_metadata", "0x1"}, "input 0");
        row("chapters of another input", {"-map_chapters", "1"}, "-map_chapters");
        row("chapters with leading zero", {"-map_chapters", "00"}, "input 0");
        row("map_channel", {"-map_channel", "1.0.0"}, "pan filter");
        // Options that name files, devices, places or libraries.
        row("second input", {"-i", "/etc/passwd"}, "-i \"/etc/passwd\"");
        row("attachment", {"-attach", "/etc/passwd"}, "-attach");
        row("statistics file", {"-vstats_file", "/tmp/v"}, "-vstats_file");
        row("library", {"-omx_libname", "/tmp/x.so"}, "loads a library");
        row("device", {"-init_hw_device", "vaapi=va:/dev/dri/renderD128"}, "hardware device");
        row("any device option", {"-qsv_device", "/dev/dri/renderD128"}, "hardware device");
        row("path in a value", {"-vtag", "/etc/passwd"}, "names a file");
        row("relative path in a value", {"-vtag", "../x"}, "names a file");
        row("protocol in a value", {"-metadata", "http://x/y"}, "protocol http");
        row("odd option name", {"-c:v'", "x"}, "characters no option has");
        row("control character", {"-metadata", "title=a\x01"}, "control characters");
        // A "%" anywhere in the output turns it into a pattern for some formats.
        QTest::newRow("% in the output folder") << QStringList{"-c", "copy"} << "/out/%d/../a_Clip1.mp4" << "\"%\"";
        QTest::newRow("% in the output name") << QStringList{"-frames:v", "9"} << "/out/a%03d.png" << "\"%\"";
        QTest::newRow("% in a stream-copied name") << QStringList{} << "/out/50% off_Clip1.mkv" << "\"%\"";
    }
    void refused()
    {
        QFETCH(QStringList, switches);
        QFETCH(QString, output);
        QFETCH(QString, says);
        const QString why = Refusal(switches, output);
        QVERIFY2(why.startsWith("the profile") || why.startsWith("the output"), qPrintable(why));
        QVERIFY2(why.contains(says), qPrintable(why));
        QVERIFY2(!why.contains('\n'), qPrintable(why));
    }

    // The reader comes to an end on any text, a NUL byte and other bytes included.
    void readsAnyTextToItsEnd()
    {
        std::vector<std::string> values = {std::string("scale=2:2\0movie=x", 17), std::string("[a\0]scale", 9),
                                           std::string("\0", 1), "[", "[[[[", "]", "=", "@", ",", ";", ":", "a=:",
                                           "scale=:::", "scale@", "[a][b]", "scale[", "scale]x"};
        for (int c = 0; c < 256; ++c)
            values.push_back(std::string("scale=") + char(c) + ",[x" + char(c) + "]");
        for (const std::string& v : values)
            for (const char* option : {"-vf", "-x264-params", "-bsf:v", "-map"}) {
                const std::string why =
                    RefusedProfileSwitches({"-y", "-i", "/a.mp4", "-ss", "0", "-t", "1", option, v, "/o/x.mp4"});
                // No value here is plain enough to pass: each is refused, and the reader ended.
                QVERIFY2(!why.empty(), (std::string(option) + " " + v).c_str());
            }
        const std::string nul = RefusedProfileSwitches(
            {"-y", "-i", "/a.mp4", "-ss", "0", "-t", "1", "-vf", std::string("scale=2\0", 8), "/o/x.mp4"});
        QVERIFY2(nul.find("NUL byte") != std::string::npos, nul.c_str());
    }

    void accepted_data()
    {
        QTest::addColumn<QStringList>("switches");
        const auto row = [](const char* name, const QStringList& sw) { QTest::newRow(name) << sw; };
        row("codecs and switches", {"-c:v", "libx264", "-preset", "fast", "-bitexact", "-an", "-movflags", "+faststart"});
        row("deinterlaced and scaled", {"-vf", "yadif,scale=1280:-2,setsar=1"});
        row("expressions", {"-vf", "scale=w=trunc(iw/2)*2:h=-2:flags=bicubic+accurate_rnd"});
        row("cropped and padded", {"-vf", "crop=640:360:0:60,pad=width=1280:height=720:x=-1:y=-1:color=black"});
        row("picture chain", {"-vf", "hqdn3d,unsharp=5:5:1.0,eq=contrast=1.1:brightness=0.02,fps=30,format=yuv420p,"
                                     "transpose=1,hflip,vflip,bwdif,setdar=16/9,nlmeans,colorbalance=rs=0.1"});
        row("text by name", {"-vf", "drawtext=text=Hello:font=Sans:fontsize=20:x=10:y=10:fontcolor=white"});
        row("sound chain", {"-af", "aresample=48000,aformat=sample_fmts=fltp|s16:channel_layouts=stereo,atempo=1.5"});
        row("pan", {"-af", "pan=stereo|c0=FL|c1=FR,volume=0.5"});
        row("loudness", {"-af", "loudnorm=I=-16:TP=-1.5:LRA=11"});
        row("resampler options", {"-af", "aresample=48000:async=1:first_pts=0"});
        row("scaler options", {"-vf", "scale=1280:720:flags=lanczos,fps=fps=30"});
        row("encoder settings", {"-crf", "23", "-tune", "film", "-profile:v", "high", "-level", "4.1", "-strict", "-2",
                                 "-threads", "0", "-c:s", "mov_text", "-ac", "2"});
        row("labels and instances", {"-filter_complex", "[in]split[a][b];[a]hflip[c];[b][c]hstack,scale@last=640:-2[out]"});
        row("filter per stream", {"-filter:a:0", "volume=2"});
        row("x264 parameters", {"-x264-params", "keyint=60:min-keyint=60:deblock=-1,-1:direct=auto:no-fast-pskip=1"});
        row("x265 parameters", {"-x265-params", "crf=20:aq-mode=3:no-sao=1:log-level=error"});
        row("bitstream filters", {"-bsf:a", "aac_adtstoasc", "-bsf:v", "h264_mp4toannexb,setts=ts=TS/0.975"});
        row("metadata", {"-metadata", "comment=http://x", "-metadata:s:a:0", "language=eng", "-metadata", "title=/a"});
        row("whole source", {"-map", "0", "-map_chapters", "0", "-map_metadata", "0"});
        row("tracks", {"-map", "0:v", "-map", "0:a:1", "-map", "0:s?", "-map", "-0:d", "-map", "0:v:0"});
        row("track by language", {"-map", "0:m:language:eng", "-map", "0:p:1:a"});
        row("graph output", {"-map", "[out]"});
        row("nothing copied", {"-map_chapters", "-1", "-map_metadata", "-1", "-map_metadata:s:a", "0:s:a"});
        row("switched off booleans", {"-nostdin", "-noautorotate", "-sn"});
        row("key frames by expression", {"-force_key_frames", "expr:gte(t,n_forced*2)"});
        row("two passes beside the output", {"-pass", "1", "-passlogfile", "/out/log"});
    }
    void accepted()
    {
        QFETCH(QStringList, switches);
        QTemporaryDir dir; // -passlogfile must lie in the output's real folder
        QStringList sw = switches;
        sw.replaceInStrings("/out/", dir.path() + "/");
        const QString why = Refusal(sw, dir.path() + "/a_Clip1.mp4");
        QVERIFY2(why.isEmpty(), qPrintable(why));
    }

    // Every value of every list of the shipped profiles, each alone and all stored choices
    // together. (tst_profiles_shipped runs them through ffmpeg.)
    void shippedProfilesPass()
    {
        const QString folder = AppDirectory() + "/Profiles/";
        QVERIFY2(QDir(folder).exists(), qPrintable(folder + " does not exist; run from the build folder"));
        const QStringList files = ListFilesByExtension(folder, ".apf");
        QVERIFY(files.size() >= 6);
        int checked = 0;
        for (const QString& file : files) {
            const ProfileContent profile = ReadProfile(folder + file);
            QStringList stored;
            for (const ProfileParameter& p : profile.parameters) {
                if (p.cmd.isEmpty())
                    continue;
                const QStringList values = p.list ? SplitItems(p.value) : QStringList{p.value};
                for (int i = 0; i < values.size(); ++i) {
                    const QString& v = values[i];
                    if (v.isEmpty())
                        continue;
                    const QStringList sw = v == "\\" ? QStringList{p.cmd} : QStringList{p.cmd, v};
                    const QString why = Refusal(sw, "/out/a_Clip1." + profile.type);
                    QVERIFY2(why.isEmpty(), qPrintable(file + ": " + why));
                    ++checked;
                    if (!p.list || i == p.index)
                        stored << sw;
                }
            }
            const QString why = Refusal(stored, "/out/a_Clip1." + profile.type);
            QVERIFY2(why.isEmpty(), qPrintable(file + ": " + why));
        }
        QVERIFY(checked > 50);
    }
};

QTEST_GUILESS_MAIN(EncoderPolicyTest)
#include "encoder_policy.moc"
