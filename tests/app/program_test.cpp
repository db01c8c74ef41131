// The program's wiring in-process, where the end-to-end runs cannot reach:
// a bundled lookup server that fails to start.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include "app/program.h"
#include "platform/gbk.h"

namespace zivorna::app {
namespace {

Text Gbk(const char* utf8) { return platform::Utf8ToGbk(utf8); }

TEST(ProgramWithoutLookupServer, SaysSoAndStartsNoLookup) {
  QTemporaryDir folder;
  ProgramState state;
  InitProgramState(state);
  ProgramOptions options;
  options.serverDataPath = folder.filePath(QStringLiteral("missing-data")).toStdString();
  options.resultFolder = folder.path().toStdString();
  Program program(state, options);
  ASSERT_TRUE(program.Open(nullptr));
  EXPECT_EQ(program.Worker(), nullptr);
  EXPECT_EQ(program.Window()->Controls().LabelText(),
            InitialLabelText() + Gbk("\r\n\r\n网络连接失败！\r\n\r\n查询服务器未能启动"));

  for (uint ch : QStringLiteral("五").toUcs4()) {
    SendCharacterKey(program.Window()->Entry(), static_cast<char32_t>(ch));
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(program.Window()->Entry()->text(), QStringLiteral("五"));
  EXPECT_EQ(program.Window()->Controls().LabelText(),
            InitialLabelText() +
                Gbk("\r\n\r\n网络连接失败！\r\n\r\n查询服务器未能启动"
                    "\r\n\r\n请检查网络连接\r\n\r\n请检查网络连接"));
  program.StopLookups();
  ReleaseProgramState(state);
  EXPECT_TRUE(state.released);
}

}  // namespace
}  // namespace zivorna::app
