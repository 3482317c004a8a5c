// 1. Opening a folder node of 100,000 entries: the main window's
// ListRemoteDirectory + AddNodes (through TreeView1_DblClick, with the repaint
// after it), next to the curl command-line client listing the same folder (MLSD).
// Then a folder of 40,000 entries opened in the window, next to the same listing
// through the layer alone.

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>

#include "BenchWindow.h"

namespace {

constexpr const char* kBench = "listing";
constexpr int kEntries = 100000;
constexpr int kMidEntries = 40000;
constexpr int kRuns = 5;

// The layer alone: FtpFindFirstFileA + InternetFindNextFileA over the folder.
double layerListing(net::CurlInternet& api, net::HINTERNET connection, int* count, const char* pattern = "/big/*")
{
    net::WIN32_FIND_DATAA record;
    const auto start = bench::Clock::now();
    const net::HINTERNET find = api.FtpFindFirstFileA(connection, pattern, &record, 0, 0);
    int n = 0;
    if (find != 0) {
        ++n;
        for (int i = 0; i < kEntries + 10 && api.InternetFindNextFileA(find, &record); ++i)
            ++n;
        (void)api.InternetCloseHandle(find);
    }
    const double seconds = bench::secondsSince(start);
    *count = n;
    return seconds;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    QTemporaryDir temp;
    const QString root = temp.filePath(QStringLiteral("root"));
    if (!temp.isValid() || !QDir().mkpath(root + QStringLiteral("/big"))) {
        std::fprintf(stderr, "no temporary folder\n");
        return 2;
    }
    const auto madeAt = bench::Clock::now();
    if (!bench::makeEmptyFiles(root + QStringLiteral("/big"), kEntries) || !QDir().mkpath(root + QStringLiteral("/mid")) ||
        !bench::makeEmptyFiles(root + QStringLiteral("/mid"), kMidEntries)) {
        std::fprintf(stderr, "could not create the files\n");
        return 2;
    }
    bench::note(kBench, "created " + std::to_string(kEntries) + " empty files in " +
                            std::to_string(bench::secondsSince(madeAt)) + " s");

    bench::Server server(root);
    if (!server.running()) {
        std::fprintf(stderr, "the FTP server did not start\n");
        return 2;
    }

    bench::BenchWindow main;
    if (!main.open(server)) {
        std::fprintf(stderr, "the window did not connect\n");
        return 2;
    }
    const QString big = main.nodeKey(QStringLiteral("big"));
    const QStringList curlArgs{QStringLiteral("-s"), QStringLiteral("-u"), QStringLiteral("user:secret"),
                               server.url(QStringLiteral("/big/")), QStringLiteral("-X"), QStringLiteral("MLSD"),
                               QStringLiteral("-o"), QStringLiteral("/dev/null")};

    // One warm-up of each, so that both find the folder in the server's page cache.
    if (bench::timeProgram(QStringLiteral("/usr/bin/curl"), curlArgs) < 0) {
        std::fprintf(stderr, "curl failed\n");
        return 2;
    }
    main.doubleClick(big);
    bench::settle();
    const int shown = remote::RemoteTree::childCount(main.window.TreeView1->find(big));
    main.doubleClick(big);
    bench::settle();
    if (shown != kEntries) {
        std::fprintf(stderr, "the folder node got %d children, not %d\n", shown, kEntries);
        return 2;
    }

    std::vector<double> handler, visible, closing, curl;
    for (int run = 0; run < kRuns; ++run) {
        const double c = bench::timeProgram(QStringLiteral("/usr/bin/curl"), curlArgs);
        if (c < 0) {
            std::fprintf(stderr, "curl failed\n");
            return 2;
        }
        curl.push_back(c);

        auto start = bench::Clock::now();
        main.doubleClick(big);  // ListRemoteDirectory + AddNodes
        handler.push_back(bench::secondsSince(start));
        bench::settle();        // the repaint the user sees
        visible.push_back(bench::secondsSince(start));
        if (remote::RemoteTree::childCount(main.window.TreeView1->find(big)) != kEntries) {
            std::fprintf(stderr, "the folder node lost entries\n");
            return 2;
        }
        start = bench::Clock::now();
        main.doubleClick(big);  // closes the node again
        bench::settle();
        closing.push_back(bench::secondsSince(start));
    }

    // Where the time goes: the steps one by one.
    std::vector<double> layer, listStep, addStep, removeStep, midLayer, midOpen;
    net::CurlInternet api;
    const net::HINTERNET session = api.InternetOpenA("bench", net::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    const QByteArray address = server.address().toLatin1();
    const net::HINTERNET connection =
        api.InternetConnectA(session, address.constData(), 0, "user", "secret", net::INTERNET_SERVICE_FTP,
                             net::INTERNET_FLAG_PASSIVE, 0);
    for (int run = 0; run < kRuns && connection != 0; ++run) {
        int count = 0;
        layer.push_back(layerListing(api, connection, &count));
        if (count != kEntries)
            std::fprintf(stderr, "the layer listed %d entries\n", count);

        remote::Node* node = main.window.TreeView1->find(big);
        auto start = bench::Clock::now();
        main.window.ListRemoteDirectory(big);
        listStep.push_back(bench::secondsSince(start));
        start = bench::Clock::now();
        main.window.AddNodes(big);
        addStep.push_back(bench::secondsSince(start));
        bench::settle();
        start = bench::Clock::now();
        main.window.TreeView1->removeChildren(node);
        removeStep.push_back(bench::secondsSince(start));
        bench::settle();

        midLayer.push_back(layerListing(api, connection, &count, "/mid/*"));
        if (count != kMidEntries)
            std::fprintf(stderr, "the layer listed %d entries of /mid\n", count);
        start = bench::Clock::now();
        main.doubleClick(main.nodeKey(QStringLiteral("mid")));  // opens it
        bench::settle();
        midOpen.push_back(bench::secondsSince(start));
        main.doubleClick(main.nodeKey(QStringLiteral("mid")));  // and closes it
        bench::settle();
    }
    (void)api.InternetCloseHandle(session);

    const double c = bench::median(curl);
    const double v = bench::median(visible);
    bench::figure(kBench, "curl_mlsd_median", c, "s");
    bench::figure(kBench, "window_open_node_median", v, "s");
    bench::figure(kBench, "window_open_node_handler_only_median", bench::median(handler), "s");
    bench::figure(kBench, "ratio_window_to_curl", v / c, "x");
    bench::note(kBench, std::string("target: at most 3x curl: ") + (v / c <= 3.0 ? "met" : "MISSED"));
    bench::figure(kBench, "window_close_node_median", bench::median(closing), "s");
    bench::figure(kBench, "step_layer_find_loop_median", bench::median(layer), "s");
    bench::figure(kBench, "ratio_layer_to_curl", bench::median(layer) / c, "x");
    bench::figure(kBench, "step_ListRemoteDirectory_median", bench::median(listStep), "s");
    bench::figure(kBench, "step_AddNodes_median", bench::median(addStep), "s");
    bench::figure(kBench, "step_removeChildren_median", bench::median(removeStep), "s");
    const double midRatio = bench::median(midOpen) / bench::median(midLayer);
    bench::figure(kBench, "mid_40000_window_open_node_median", bench::median(midOpen), "s");
    bench::figure(kBench, "mid_40000_layer_find_loop_median", bench::median(midLayer), "s");
    bench::figure(kBench, "ratio_mid_window_to_layer", midRatio, "x");
    bench::note(kBench, std::string("target: at most 1.2x the layer: ") + (midRatio <= 1.2 ? "met" : "MISSED"));
    if (!main.ui.texts.isEmpty())
        bench::note(kBench, std::to_string(main.ui.texts.size()) + " message box(es) were answered");
    return 0;
}
