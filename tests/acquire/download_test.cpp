// Downloads through the real wget, with a local stand-in for the data centre as its proxy.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "acquire/day_file.h"
#include "acquire/get_data.h"
#include "support/mseed_writer.h"
#include "support/temp_dir.h"

namespace {

bool exists(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

class Download : public testing::Test {
  protected:
    void SetUp() override {
        Mseed_series series;
        series.samprate = 20.0;
        series.start_us = day_start_us(2012, 65);
        std::vector<int32_t> samples(4000);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<int32_t>(i % 97) * 13;
        write_mseed_int(day_file, series, samples);

        const std::string port_file = tmp.path + "/port";
        server = fork();
        ASSERT_GE(server, 0);
        if (server == 0) {
            const std::string script =
                std::string(VEMLO_TESTS_DIR) + "/acquire/fake_fdsn_server.py";
            execlp("python3", "python3", script.c_str(), fdsn_base_url(), day_file.c_str(),
                   port_file.c_str(), log_file.c_str(), "120", static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 200 && read_file(port_file).empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::string port = read_file(port_file);
        ASSERT_FALSE(port.empty()) << "the stand-in server did not start";

        // wget: through the stand-in, one try, bounded waits.
        write_file(tmp.path + "/wgetrc", "tries = 1\ntimeout = 20\nuse_proxy = on\n");
        setenv("http_proxy", ("http://127.0.0.1:" + port + "/").c_str(), 1);
        setenv("WGETRC", (tmp.path + "/wgetrc").c_str(), 1);
        unsetenv("no_proxy");
        unsetenv("NO_PROXY");
        control.data_dir = tmp.path + "/archive/";
        control.download_missing = 1;
        control.keep_downloads = 1;
    }

    void TearDown() override {
        unsetenv("http_proxy");
        unsetenv("WGETRC");
        if (server > 0) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
        }
    }

    // Request lines the stand-in has seen, each "URL<tab>verdict".
    std::vector<std::string> requests() const {
        std::vector<std::string> lines;
        std::string text = read_file(log_file);
        for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
            lines.push_back(text.substr(at, end - at));
        return lines;
    }

    Day_file find(const std::string& station, const std::string& location, std::string& out) {
        testing::internal::CaptureStdout();
        Day_file file = find_day_file(2012, 65, 0.0f, "XX", station, location, "HHZ", control);
        out = testing::internal::GetCapturedStdout();
        return file;
    }

    Temp_dir tmp;
    std::string day_file = tmp.path + "/served.mseed";
    std::string log_file = tmp.path + "/requests.log";
    pid_t server = -1;
    Template_file control;
};

TEST_F(Download, FetchesOnceThenReadsTheArchive) {
    std::string out;
    Day_file first = find("ABC", "00", out);
    EXPECT_EQ(out, "Downloading data.\n");
    EXPECT_EQ(first.outcome, Day_file_outcome::read_downloaded);
    EXPECT_FALSE(first.deletion_notice);
    EXPECT_EQ(first.path, tmp.path + "/archive/ABC/2012/ABC.XX.00.HHZ.2012.065");
    EXPECT_EQ(read_file(first.path), read_file(day_file));
    const std::string query = std::string(fdsn_base_url()) +
                              "fdsnws/dataselect/1/query?net=XX&sta=ABC&loc=00&cha=HHZ&starttime="
                              "2012-03-05T00:00:00&endtime=2012-03-05T23:59:59.999%20";
    EXPECT_EQ(requests(), std::vector<std::string>{query + "\tok"});

    Day_file second = find("ABC", "00", out);
    EXPECT_EQ(out, "");
    EXPECT_EQ(second.outcome, Day_file_outcome::read);
    EXPECT_EQ(requests().size(), 1u);

    // get_data downloads, reads, and gives the deletion notice before interpolating.
    control.keep_downloads = 0;
    control.sample_rate = 20;
    control.freq_low = 1.0;
    control.freq_high = 5.0;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    std::vector<float> data = get_data(2012, 65, 20.0f, "XX", "ABD", "", "HHZ", 100, control);
    out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out,
              "Downloading data.\nDeleting downloaded data (***NOT IMPLEMENTED***).\n"
              "Interpolating...interpolated. Bandpassing...bandpassed.\n");
    EXPECT_EQ(err, "Reading: " + tmp.path + "/archive/ABD/2012/ABD.XX..HHZ.2012.065\n");
    EXPECT_EQ(data.size(), 100u);
    ASSERT_EQ(requests().size(), 2u);
    EXPECT_NE(requests()[1].find("&sta=ABD&loc=&cha=HHZ&"), std::string::npos);
}

TEST_F(Download, EmptyOrFailedRepliesAreNotFoundAndNotRetried) {
    for (const std::string station : {"EMPTY", "TINY", "FAIL"}) {
        std::string out;
        Day_file file = find(station, "00", out);
        EXPECT_EQ(out, "Downloading data.\n") << station;
        EXPECT_EQ(file.outcome, Day_file_outcome::not_found) << station;
        file = find(station, "00", out);  // the small file left behind stays
        EXPECT_EQ(out, "") << station;
        EXPECT_EQ(file.outcome, Day_file_outcome::not_found) << station;
    }
    EXPECT_EQ(requests().size(), 3u);

    control.download_missing = 0;
    std::string out;
    EXPECT_EQ(find("OTHER", "00", out).outcome, Day_file_outcome::not_found);
    EXPECT_EQ(out, "");
    EXPECT_FALSE(exists(tmp.path + "/archive/OTHER"));
    EXPECT_EQ(requests().size(), 3u);
}

TEST_F(Download, BlanksAndShellCharactersStayData) {
    control.data_dir = tmp.path + "/my archive/";
    const std::string station = "S;touch P1`touch P2`$(touch P3)'\"|x";
    std::string out;
    Day_file file = find(station, "00", out);
    EXPECT_EQ(file.outcome, Day_file_outcome::read_downloaded);
    const std::string expected_path =
        tmp.path + "/my archive/" + station + "/2012/" + station + ".XX.00.HHZ.2012.065";
    EXPECT_EQ(file.path, expected_path);
    EXPECT_EQ(read_file(expected_path), read_file(day_file));
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_NE(requests()[0].find("\tok"), std::string::npos) << requests()[0];
    for (const char* name : {"P1", "P2", "P3"})
        EXPECT_FALSE(exists(name)) << name;
}

}  // namespace
