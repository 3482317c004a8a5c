// 4. Memory of 100,000 nodes in the main window's tree: VmRSS before and after
// opening a folder of 100,000 entries (ListRemoteDirectory + AddNodes from the
// server), and, to set the listing aside, AddNodes from filled buffers. The peer
// is a plain QTreeWidget filled with the same 100,000 texts. Then the peak of the
// whole program (VmHWM) opening a folder of 1,000,000 entries through the real
// layer. Each case runs in a fresh process of its own.
//
//   bench_memory                           creates the folders, runs the cases, prints the figures
//   bench_memory --child window ROOT       the window, listing ROOT/big from a server serving ROOT
//   bench_memory --child million ROOT      the same with ROOT/huge
//   bench_memory --child buffers ROOT      the window, AddNodes from filled buffers
//   bench_memory --child plain SERVER      the peer

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>

#include "BenchWindow.h"

namespace {

constexpr const char* kBench = "memory";
constexpr int kEntries = 100000;
constexpr int kHugeEntries = 1000000;

QString entryName(int i) { return QStringLiteral("f%1").arg(i, 6, 10, QLatin1Char('0')); }

void report(const char* key, long value) { std::printf("%s %ld\n", key, value); }

// The highest resident set size of this process so far (VmHWM), in KiB.
long peakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

// Prints the RSS after the fill, and again after the allocator gave back what it could.
void reportAfter(int nodes)
{
    bench::settle();
    report("RSS_AFTER", bench::rssKiB());
    ::malloc_trim(0);
    report("RSS_TRIM", bench::rssKiB());
    report("PEAK", peakKiB());
    report("NODES", nodes);
    std::printf("DONE\n");
    std::fflush(stdout);
}

int childWindow(const QString& root, const QString& folder)
{
    bench::Server server(root);
    if (!server.running())
        return 2;
    bench::BenchWindow main;
    if (!main.open(server))
        return 2;
    const QString big = main.nodeKey(folder);
    std::printf("SERVER %s\n", qPrintable(main.window.txtServer->text()));
    bench::settle();
    ::malloc_trim(0);
    report("RSS_BEFORE", bench::rssKiB());
    main.doubleClick(big);
    reportAfter(remote::RemoteTree::childCount(main.window.TreeView1->find(big)));
    return 0;
}

int childBuffers(const QString& root)
{
    // Connected as the user would be: the root node is the connection's.
    bench::Server server(root);
    bench::BenchWindow main;
    if (!server.running() || !main.open(server))
        return 2;
    const QString big = main.nodeKey(QStringLiteral("big"));
    if (!main.window.TreeView1->find(big))
        return 2;
    main.window.TreeView1->setImage(main.window.TreeView1->find(big), QStringLiteral("open"));
    bench::settle();
    ::malloc_trim(0);
    report("RSS_BEFORE", bench::rssKiB());
    // As ListRemoteDirectory leaves them: the names and attributes stay in the window.
    main.window.ClearListing();
    for (int i = 0; i < kEntries; ++i) {
        main.window.colNames.append(entryName(i));
        main.window.colAttributes.append(net::FILE_ATTRIBUTE_NORMAL);
    }
    main.window.AddNodes(big);
    reportAfter(remote::RemoteTree::childCount(main.window.TreeView1->find(big)));
    return 0;
}

int childPlain(const QString& serverText)
{
    QTreeWidget tree;
    tree.setHeaderHidden(true);
    tree.resize(233, 193);  // the main window's tree size
    auto* rootItem = new QTreeWidgetItem(QStringList{serverText});
    tree.addTopLevelItem(rootItem);
    auto* bigItem = new QTreeWidgetItem(QStringList{serverText + QStringLiteral("/big")});
    rootItem->addChild(bigItem);
    rootItem->setExpanded(true);
    tree.show();
    bench::settle();
    ::malloc_trim(0);
    report("RSS_BEFORE", bench::rssKiB());
    QList<QTreeWidgetItem*> items;
    items.reserve(kEntries);
    const QString prefix = serverText + QStringLiteral("/big/");
    for (int i = 0; i < kEntries; ++i)
        items.append(new QTreeWidgetItem(QStringList{prefix + entryName(i)}));
    bigItem->addChildren(items);
    bigItem->setExpanded(true);
    tree.scrollToItem(items.constLast());
    reportAfter(bigItem->childCount());
    return 0;
}

std::map<std::string, std::string> parse(const std::string& output)
{
    std::map<std::string, std::string> values;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        const auto space = line.find(' ');
        if (space != std::string::npos)
            values[line.substr(0, space)] = line.substr(space + 1);
    }
    return values;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "--child") == 0) {
        QApplication application(argc, argv);
        const QString arg = QString::fromLocal8Bit(argv[3]);
        if (std::strcmp(argv[2], "window") == 0)
            return childWindow(arg, QStringLiteral("big"));
        if (std::strcmp(argv[2], "million") == 0)
            return childWindow(arg, QStringLiteral("huge"));
        if (std::strcmp(argv[2], "buffers") == 0)
            return childBuffers(arg);
        if (std::strcmp(argv[2], "plain") == 0)
            return childPlain(arg);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return 2;

    QTemporaryDir temp;
    const QString root = temp.filePath(QStringLiteral("root"));
    if (!temp.isValid() || !QDir().mkpath(root + QStringLiteral("/big")) ||
        !bench::makeEmptyFiles(root + QStringLiteral("/big"), kEntries) ||
        !QDir().mkpath(root + QStringLiteral("/huge")) ||
        !bench::makeEmptyFiles(root + QStringLiteral("/huge"), kHugeEntries)) {
        std::fprintf(stderr, "could not create the folders\n");
        return 2;
    }

    struct Case {
        std::string name;
        double before = 0, after = 0, trimmed = 0, peak = 0;
    };
    auto run = [&](const char* kind, const std::string& arg, Case& c, std::string* serverText) {
        std::string output;
        if (bench::timeUntilLine({self, "--child", kind, arg}, "DONE", 300000, &output, true) < 0) {
            std::fprintf(stderr, "the %s case failed: %s\n", kind, output.c_str());
            return false;
        }
        auto values = parse(output);
        const int expected = std::strcmp(kind, "million") == 0 ? kHugeEntries : kEntries;
        if (std::stol(values["NODES"]) != expected) {
            std::fprintf(stderr, "the %s case filled %s nodes\n", kind, values["NODES"].c_str());
            return false;
        }
        c.name = kind;
        c.before = std::stod(values["RSS_BEFORE"]) / 1024;
        c.after = std::stod(values["RSS_AFTER"]) / 1024;
        c.trimmed = std::stod(values["RSS_TRIM"]) / 1024;
        c.peak = std::stod(values["PEAK"]) / 1024;
        if (serverText)
            *serverText = values["SERVER"];
        return true;
    };
    Case window, buffers, plain, million;
    std::string serverText;
    if (!run("window", root.toStdString(), window, &serverText) || !run("buffers", root.toStdString(), buffers, nullptr) ||
        !run("plain", serverText, plain, nullptr) || !run("million", root.toStdString(), million, nullptr))
        return 2;

    for (const Case* c : {&window, &buffers, &plain}) {
        bench::figure(kBench, c->name + "_rss_before", c->before, "MiB");
        bench::figure(kBench, c->name + "_rss_after", c->after, "MiB");
        bench::figure(kBench, c->name + "_rss_after_trim", c->trimmed, "MiB");
        bench::figure(kBench, c->name + "_bytes_per_node", (c->after - c->before) * 1024 * 1024 / kEntries, "B");
        bench::figure(kBench, c->name + "_bytes_per_node_after_trim",
                      (c->trimmed - c->before) * 1024 * 1024 / kEntries, "B");
    }
    const double peer = plain.trimmed - plain.before;
    bench::figure(kBench, "ratio_window_to_plain_tree", (window.after - window.before) / (plain.after - plain.before),
                  "x");
    bench::figure(kBench, "ratio_window_to_plain_tree_after_trim", (window.trimmed - window.before) / peer, "x");
    bench::figure(kBench, "ratio_buffers_to_plain_tree_after_trim", (buffers.trimmed - buffers.before) / peer, "x");
    const double nodes = window.after - window.before;  // before the allocator gives anything back
    bench::figure(kBench, "window_100000_nodes", nodes, "MiB");
    bench::note(kBench, std::string("target: 100,000 nodes under 25 MiB: ") + (nodes < 25 ? "met" : "MISSED"));
    bench::figure(kBench, "million_peak_whole_program", million.peak, "MiB");
    bench::figure(kBench, "million_rss_after", million.after, "MiB");
    bench::note(kBench, std::string("target: a 1,000,000-entry folder under 300 MiB peak: ") +
                            (million.peak < 300 ? "met" : "MISSED"));
    return 0;
}
