// A small ASPI for Win32 client for the end-to-end tests: loads WNASPI32.DLL the way the program
// does, asks for the support information, finds the reader by its INQUIRY signature and sends it
// a few commands through a request block, printing one line per step.
//
//   aspi_client            prints the results and ends
//   aspi_client window [title]
//                          also opens a window ("ASPI Client" unless titled) that the tests drive:
//                          control 1000 shows the summary, button 1013 asks (OK/Cancel box)
//                          whether to query again, button 2 ends, message 1481 answers the number
//                          of requests sent so far.
//
// Vendor commands go only to a unit whose INQUIRY reply carries the controller's signature.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

using SupportInfoEntry = DWORD(__cdecl*)();
using SendCommandEntry = DWORD(__cdecl*)(void*);

constexpr std::uint8_t kExecScsiCmd = 2;
constexpr std::uint8_t kDirIn = 8;
constexpr std::uint8_t kStatusComplete = 1;
constexpr DWORD kPollLimit = 2000;  // 1 ms polls per request
constexpr UINT kCountQuery = 1481;
constexpr int kSummaryId = 1000;
constexpr int kAgainId = 1013;
constexpr int kExitId = 2;
std::string title = "ASPI Client";  // the window's caption, also of its box

SendCommandEntry sendCommand = nullptr;
DWORD requestsSent = 0;

struct Reader {
    bool found = false;
    std::uint8_t adapter = 0;
    std::uint8_t target = 0;
    char medium[3] = {};
};

// One request block in the published 32-bit layout; the reply lands in `data`.
std::uint8_t Execute(const Reader& at, std::uint8_t lun, const std::uint8_t (&cdb)[12],
                     std::uint8_t* data, std::uint32_t length) {
    alignas(16) static std::uint8_t block[256];
    std::memset(block, 0, sizeof block);
    block[0] = kExecScsiCmd;
    block[2] = at.adapter;
    block[3] = kDirIn;
    block[8] = at.target;
    block[9] = lun;
    std::memcpy(block + 12, &length, 4);
    std::uint32_t address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(data));
    std::memcpy(block + 16, &address, 4);
    block[21] = 12;
    std::memcpy(block + 48, cdb, 12);
    ++requestsSent;
    DWORD returned = sendCommand(block);
    for (DWORD poll = 0; block[1] == 0 && poll < kPollLimit; ++poll) Sleep(1);
    // A request that completed at once must say so in both places.
    if (returned != 0 && returned != block[1]) std::printf("status mismatch\n");
    return block[1];
}

std::string Trimmed(const std::uint8_t* bytes, size_t count) {
    std::string text(reinterpret_cast<const char*>(bytes), count);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
}

Reader FindReader(std::uint8_t adapters) {
    Reader reader;
    const std::uint8_t inquiry[12] = {0x12, 0, 0, 0, 0x38};
    for (std::uint8_t ha = 0; ha < adapters && !reader.found; ++ha) {
        for (std::uint8_t target = 0; target < 8 && !reader.found; ++target) {
            std::uint8_t reply[56] = {};
            Reader at;
            at.adapter = ha;
            at.target = target;
            std::uint8_t status = Execute(at, 0, inquiry, reply, sizeof reply);
            if (status != kStatusComplete) continue;
            bool hasSignature = reply[36] == 'Q' && reply[37] == 'Z';
            std::printf("inquiry ha %u target %u: vendor \"%s\" product \"%s\" signature %s\n", ha,
                        target, Trimmed(reply + 8, 8).c_str(), Trimmed(reply + 16, 16).c_str(),
                        hasSignature ? "QZ" : "none");
            if (hasSignature) {
                reader = at;
                reader.found = true;
                reader.medium[0] = static_cast<char>(reply[38]);
                reader.medium[1] = static_cast<char>(reply[39]);
                std::printf("reader ha %u target %u medium %s\n", ha, target, reader.medium);
            }
        }
    }
    if (!reader.found) std::printf("reader none\n");
    return reader;
}

std::string QueryReader(const Reader& reader) {
    char summary[160];
    const std::uint8_t bankCount[12] = {0xC2};
    const std::uint8_t deviceCode[12] = {0xF7};
    const std::uint8_t capacity[12] = {0x25, 0, 0, 0, 0x08};
    std::uint8_t banks[2] = {}, code[2] = {}, cap[8] = {};
    std::uint8_t s1 = Execute(reader, 0, bankCount, banks, 1);
    std::printf("bank-count status 0x%02X value %u\n", s1, banks[0]);
    std::uint8_t s2 = Execute(reader, 0, deviceCode, code, 1);
    std::printf("device-code status 0x%02X value 0x%02X\n", s2, code[0]);
    std::uint8_t s3 = Execute(reader, 0, capacity, cap, sizeof cap);
    unsigned long last =
        (static_cast<unsigned long>(cap[0]) << 24) | (cap[1] << 16) | (cap[2] << 8) | cap[3];
    std::printf("capacity status 0x%02X last %lu\n", s3, last);
    std::snprintf(summary, sizeof summary, "QZ %s banks %u code 0x%02X", reader.medium, banks[0],
                  code[0]);
    return summary;
}

// Runs the whole query; the summary line is what the window shows.
std::string RunQueries(SupportInfoEntry supportInfo) {
    DWORD info = supportInfo();
    std::uint8_t adapters = static_cast<std::uint8_t>(info & 0xFF);
    std::printf("support 0x%04lX adapters %u status %lu\n", static_cast<unsigned long>(info),
                adapters, static_cast<unsigned long>((info >> 8) & 0xFF));
    if (((info >> 8) & 0xFF) != kStatusComplete || adapters == 0) return "no adapter";
    Reader reader = FindReader(adapters);
    std::fflush(stdout);
    return reader.found ? QueryReader(reader) : "no reader";
}

SupportInfoEntry globalSupportInfo = nullptr;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == kExitId) {
                DestroyWindow(window);
            } else if (LOWORD(wParam) == kAgainId) {
                int answer =
                    MessageBoxA(window, "Query the reader again?", title.c_str(), MB_OKCANCEL);
                std::string text = answer == IDOK ? "again: " + RunQueries(globalSupportInfo)
                                                  : std::string("cancelled");
                SetDlgItemTextA(window, kSummaryId, text.c_str());
            }
            return 0;
        case kCountQuery:
            return static_cast<LRESULT>(requestsSent);
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

int RunWindow(const std::string& summary) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = "AspiClientWindow";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("AspiClientWindow", title.c_str(), WS_OVERLAPPED | WS_CAPTION, 20,
                                20, 360, 140, nullptr, nullptr, instance, nullptr);
    auto child = [&](const char* cls, const char* text, DWORD style, int x, int y, int w, int id) {
        CreateWindowA(cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, 24, window,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    };
    child("STATIC", summary.c_str(), SS_LEFT, 10, 10, 330, kSummaryId);
    child("BUTTON", "Again", BS_PUSHBUTTON, 10, 60, 100, kAgainId);
    child("BUTTON", "Exit", BS_PUSHBUTTON, 120, 60, 100, kExitId);
    // Shown only now, so that whoever finds the window finds its controls too.
    ShowWindow(window, SW_SHOW);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

// GetProcAddress hands back a generic function pointer; the entry's real type is known here.
template <typename Function>
Function Entry(HMODULE library, const char* name) {
    FARPROC found = GetProcAddress(library, name);
    Function typed;
    static_assert(sizeof typed == sizeof found, "function pointers differ in size");
    std::memcpy(&typed, &found, sizeof typed);
    return typed;
}

}  // namespace

int main(int argc, char** argv) {
    bool window = argc > 1 && std::strcmp(argv[1], "window") == 0;
    if (window && argc > 2) title = argv[2];
    HMODULE library = LoadLibraryA("WNASPI32.DLL");
    if (library == nullptr) {
        std::printf("load failed %lu\n", static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    globalSupportInfo = Entry<SupportInfoEntry>(library, "GetASPI32SupportInfo");
    sendCommand = Entry<SendCommandEntry>(library, "SendASPI32Command");
    if (globalSupportInfo == nullptr || sendCommand == nullptr) {
        std::printf("entry missing\n");
        FreeLibrary(library);
        return 1;
    }
    std::printf("load ok\n");
    std::string summary = RunQueries(globalSupportInfo);
    std::printf("summary %s\n", summary.c_str());
    std::fflush(stdout);
    int result = window ? RunWindow(summary) : 0;
    // Releasing the library is what makes the simulator write its output folder.
    FreeLibrary(library);
    std::printf("released\n");
    return result;
}
