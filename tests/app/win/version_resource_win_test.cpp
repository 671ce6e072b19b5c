// Windows only: the program and the stand-in engine library carry the version resource that
// Windows shows in their properties, read back as Windows reads it, with the version the agent
// itself reports (the tray's About line, -version, "getAgentInfo").
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/agent_process.h"
#include "app/tray_menu_extras_win.h"
#include "platform/win/wide_text.h"

namespace kelvo {
namespace test {
namespace {

struct version_resource {
    // GetFileVersionInfoW's copy of the resource.
    std::vector<char> data;
    bool present = false;
    // The fixed part's file and product versions as "major.minor.patch.build".
    std::string file_version;
    std::string product_version;
    bool is_program = false;
    // One text of the U.S. English, Unicode string table.
    std::wstring text(const wchar_t* name) const {
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        void* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(data.data(), path.c_str(), &value, &length) || length == 0) return L"";
        return std::wstring(static_cast<const wchar_t*>(value), length - 1);
    }
};

std::string four_part(DWORD high, DWORD low) {
    return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
           std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
}

version_resource read_version(const std::string& file_name) {
    const std::string program = agent_program_path();
    const std::string folder = program.substr(0, program.find_last_of("\\/"));
    const std::wstring path = rtc::web::wide_from_utf8(folder + "\\" + file_name);
    version_resource resource;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return resource;
    resource.data.resize(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, resource.data.data())) return resource;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(resource.data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        return resource;
    }
    resource.present = true;
    resource.file_version = four_part(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
    resource.product_version = four_part(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
    resource.is_program = fixed->dwFileType == VFT_APP;
    return resource;
}

TEST(version_resource, program_and_engine_name_product_company_version_and_themselves) {
    const std::wstring version = rtc::web::wide_from_utf8(KELVO_AGENT_VERSION);
    struct expected {
        std::string file;
        std::wstring description;
        bool program;
    };
    for (const expected& file :
         {expected{"kelvo_web_agent.exe", L"Kelvo Web Agent", true},
          expected{"rizudada.dll", L"Stand-in engine library of Kelvo Web Agent", false}}) {
        SCOPED_TRACE(file.file);
        const version_resource resource = read_version(file.file);
        ASSERT_TRUE(resource.present);
        EXPECT_EQ(resource.file_version, KELVO_AGENT_VERSION ".0");
        EXPECT_EQ(resource.product_version, KELVO_AGENT_VERSION ".0");
        EXPECT_EQ(resource.is_program, file.program);
        EXPECT_EQ(resource.text(L"ProductName"), L"Kelvo Web Agent");
        EXPECT_EQ(resource.text(L"CompanyName"), L"Kelvo");
        EXPECT_EQ(resource.text(L"FileVersion"), version);
        EXPECT_EQ(resource.text(L"ProductVersion"), version);
        EXPECT_EQ(resource.text(L"FileDescription"), file.description);
        EXPECT_EQ(resource.text(L"OriginalFilename"), rtc::web::wide_from_utf8(file.file));
    }
    EXPECT_EQ(rtc::web::tray_about_text("2.5"),
              L"Kelvo Web Agent " + read_version("kelvo_web_agent.exe").text(L"ProductVersion") +
                  L", engine 2.5");
}

}  // namespace
}  // namespace test
}  // namespace kelvo
