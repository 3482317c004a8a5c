#pragma once

#include <gtest/gtest.h>

#include <QtWidgets>
#include <memory>

#include "RecordingInternet.h"
#include "support/ScriptedUi.h"
#include "app/Program.h"
#include "app/fmKESTRIX.h"
#include "transfer/FileList.h"

namespace testsupport {

// A loaded main window over the recording fake, with scripted dialogs.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        program = std::make_unique<app::Program>(internet, app::ProgramParts{.ui = &ui, .quit = [this] { ++quitCalls; }});
        window = &program->window();
        ASSERT_TRUE(window->Form_Load());
    }

    // Start a session and connect to "srv" whose root holds pub/ and readme.
    void connectToSrv(const QString& server = QStringLiteral("srv"))
    {
        internet.addFolder("/", {{"pub", net::FILE_ATTRIBUTE_DIRECTORY}, {"readme", net::FILE_ATTRIBUTE_NORMAL}});
        internet.addFolder("/pub", {{"docs", net::FILE_ATTRIBUTE_DIRECTORY}, {"x", net::FILE_ATTRIBUTE_NORMAL}});
        internet.addFolder("/pub/docs", {{"a.txt", net::FILE_ATTRIBUTE_NORMAL}});
        window->cmdInternetOpen_Click();
        window->txtServer->setText(server);
        window->txtUser->setText(QStringLiteral("me"));
        window->txtPassword->setText(QStringLiteral("secret"));
        window->cmdConnect_Click();
        ASSERT_TRUE(window->bConnected);
        internet.calls.clear();
    }

    // Creates a local file and selects it in the file list.
    void selectLocalFile(const QTemporaryDir& local, const QString& name)
    {
        QFile file(local.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("data\n");
        file.close();
        window->File1->setPath(local.path());
        window->File1->setFileName(name);
    }

    RecordingInternet internet;
    ScriptedUi ui;
    int quitCalls = 0;
    std::unique_ptr<app::Program> program;
    app::fmKESTRIX* window = nullptr;
};

}  // namespace testsupport
