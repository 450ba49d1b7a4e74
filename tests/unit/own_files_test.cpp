// The files the library writes for the user (the error log, the About details through the file
// companion, saved result sets) take the user's umask and never write through a symbolic link planted where
// the file goes: whatever the link points at stays as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "companions/clsError.h"
#include "dataaccess/persist_file.h"
#include "korado/platform/companions.h"
#include "korado/runtime/registry.h"
#include "support/raises.h"
#include "support/support.h"

namespace korado {
namespace {

namespace persist = dataaccess::persist;

void SaveOneRow(const std::string& path) {
    persist::SaveFile(path, ado::adPersistXML, [](persist::RowsetSink& sink) {
        persist::Schema schema;
        schema.columns.resize(1);
        schema.columns[0].name = "a";
        schema.columns[0].type = ado::adInteger;
        sink.Begin(schema);
        const Variant one(1);
        sink.Row(persist::RowKind::kUnchanged, &one, nullptr);
        sink.End();
    });
}

TEST(OwnFiles, TakeTheUmaskAndRefuseAPlantedLink) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> write;
        std::int32_t refused;  // what writing through a link raises; 0: nothing (the log stays quiet)
    };
    const Case cases[] = {
        {"error log",
         [](const std::string& path) {
             Ref<companions::clsError> log = MakeRef<companions::clsError>();
             log->SetLogFile(path);
             log->LogEvent("written");
         },
         0},
        {"About details",
         [](const std::string& path) {
             Variant file(CreateObject(companions::kFile));
             CallMethod(file, "Constructor", path);
             LetProperty(file, "Contents", std::string("written"));
         },
         rt::PathFileAccessError},
        {"saved result set", SaveOneRow, persist::kFileExists},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string victim = dir.File("victim"), link = dir.File("link");
        std::ofstream(victim) << "keep";
        std::filesystem::create_symlink(victim, link);
        EXPECT_EQ(test::RaisedNumber([&] { c.write(link); }), c.refused);
        EXPECT_EQ(test::ReadFile(victim), "keep");
        EXPECT_TRUE(std::filesystem::is_symlink(link));

        const mode_t old = ::umask(027);
        c.write(dir.File("fresh"));
        ::umask(old);
        struct stat st {};
        ASSERT_EQ(::stat(dir.File("fresh").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0640u);
    }
}

}  // namespace
}  // namespace korado
