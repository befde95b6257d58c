// Replays the fuzz targets' seed corpus and every input a fuzzer once failed on
// (fuzz/regressions/<target>/) through the same checks, in the regular and the sanitizer
// builds.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "FuzzChecks.h"

namespace {

struct Target {
    const char* name;
    bool (*check)(const QByteArray&);
};

std::ostream& operator<<(std::ostream& os, const Target& t) { return os << t.name; }

class FuzzInputs : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzInputs, PassTheirCheck) {
    int inputs = 0;
    for (const char* folder : {"corpus", "regressions"}) {
        const QDir dir(QStringLiteral(LORVEX_SOURCE_DIR "/fuzz/%1/%2")
                           .arg(QLatin1String(folder), QLatin1String(GetParam().name)));
        for (const QString& file : dir.entryList(QDir::Files)) {
            QFile input(dir.filePath(file));
            ASSERT_TRUE(input.open(QIODevice::ReadOnly)) << file.toStdString();
            EXPECT_TRUE(GetParam().check(input.readAll())) << folder << '/' << file.toStdString();
            ++inputs;
        }
    }
    EXPECT_GT(inputs, 0) << "no seed inputs for " << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Targets, FuzzInputs,
    ::testing::Values(Target{"fuzz_registry", fuzzcheck::registry},
                      Target{"fuzz_settings", fuzzcheck::settings},
                      Target{"fuzz_commatext", fuzzcheck::commaText},
                      Target{"fuzz_hostport", fuzzcheck::hostPort},
                      Target{"fuzz_restore_reader", fuzzcheck::restoreReader},
                      Target{"fuzz_sql_script", fuzzcheck::sqlScript}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
