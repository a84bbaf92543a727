// The registry reader and the directory look-up against a fake registry
// whose values have any type, size and bytes, whose calls fail where the
// input says, and whose value may change between the reader's two queries
// (another program writing it). Whatever happens: no crash, the result holder
// keeps its value on failure, every opened key is closed (or its close was the
// call made to fail), and the predefined root key is never closed.
#include "fuzz_check.h"
#include "platform/FakePlatform.h"
#include "registry/Module1.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace {

using velmo::FakePlatform;
using velmo::RegKey;

constexpr const char* kKeys[] = {"SOFTWARE\\Quarzwerk\\Velmoria", "SOFTWARE\\Notepad++"};
constexpr const char* kValueNames[] = {"InstallPath", "", "x"};

// Replaces the value after the first query has learned its size.
class ChangingRegistry : public FakePlatform {
  public:
    std::optional<RegValue> changeAfterSizeQuery;
    std::string changeKey, changeName;
    bool changeIn64BitView = false;

    std::int32_t RegQueryValueExA(RegKey key, const std::string& valueName, std::uint32_t& type,
                                  unsigned char* data, std::uint32_t& size) override {
        const std::int32_t status =
            FakePlatform::RegQueryValueExA(key, valueName, type, data, size);
        if (data == nullptr && changeAfterSizeQuery) {
            SetRegValue(changeKey, changeName, *changeAfterSizeQuery, changeIn64BitView);
            changeAfterSizeQuery.reset();
        }
        return status;
    }
};

FakePlatform::RegValue AnyValue(FuzzedDataProvider& in) {
    FakePlatform::RegValue value;
    value.type = in.ConsumeBool() ? in.PickValueInArray({velmo::reg::Sz, velmo::reg::Dword,
                                                         velmo::reg::ExpandSz, velmo::reg::Binary})
                                  : in.ConsumeIntegral<std::uint32_t>();
    value.data = in.ConsumeRandomLengthString(80);
    return value;
}

velmo::RegistryResult AnyResult(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0:
        return std::monostate{};
    case 1:
        return in.ConsumeRandomLengthString(8);
    default:
        return in.ConsumeIntegral<std::int32_t>();
    }
}

// A cleaned-up directory has no blank in front and nothing from a NUL on.
void CheckDirectory(const std::string& directory) {
    FUZZ_CHECK(directory.find('\0') == std::string::npos);
    FUZZ_CHECK(directory.empty() || directory.front() != ' ');
}

// Closes that were attempted but made to fail: the fake records only the
// closes it carried out.
std::size_t FailedCloses(const FakePlatform& fake) {
    const auto attempts = std::count_if(fake.calls.begin(), fake.calls.end(), [](const auto& c) {
        return c.rfind("RegCloseKey", 0) == 0;
    });
    return static_cast<std::size_t>(attempts) - fake.closedKeys.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    ChangingRegistry fake;
    for (bool view64 : {false, true}) {
        for (const char* key : kKeys) {
            if (in.ConsumeBool())
                fake.AddRegKey(key, view64);
            for (const char* name : kValueNames)
                if (in.ConsumeBool())
                    fake.SetRegValue(key, name, AnyValue(in), view64);
        }
    }
    const std::string key = in.PickValueInArray(kKeys);
    const std::string name = in.PickValueInArray(kValueNames);
    if (in.ConsumeBool()) {
        fake.changeAfterSizeQuery = AnyValue(in);
        fake.changeKey = key;
        fake.changeName = name;
        fake.changeIn64BitView = in.ConsumeBool();
    }
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0:
        break;
    case 1:
        fake.failCallIndex = in.ConsumeIntegralInRange<std::size_t>(0, 8);
        break;
    default:
        fake.failOperation[in.PickValueInArray(
            {"RegOpenKeyExA", "RegQueryValueExA", "RegCloseKey"})] =
            in.ConsumeIntegral<std::uint32_t>();
    }
    fake.failCode = in.ConsumeIntegral<std::uint32_t>();
    const RegKey root = in.PickValueInArray({velmo::HkeyLocalMachine, 0x80000000u, 0x80000001u});

    if (in.ConsumeBool()) {
        const std::uint32_t view =
            in.PickValueInArray({0u, velmo::reg::KeyWow64_32Key, velmo::reg::KeyWow64_64Key});
        const velmo::RegistryResult before = AnyResult(in);
        velmo::RegistryResult result = before;
        const std::int32_t status = velmo::ReadRegistryValue(fake, root, key, name, result, view);
        // A failed close comes after the value was read; any earlier failure leaves the holder.
        if (status != 0 && FailedCloses(fake) == 0)
            FUZZ_CHECK(result == before);
        if (status == 0)
            CheckDirectory(velmo::CleanUpDirectory(result));
    } else {
        const std::optional<std::string> directory = velmo::LookUpDirectory(fake, key, name);
        if (directory) {
            FUZZ_CHECK(!directory->empty());
            CheckDirectory(*directory);
        }
    }

    // Every key opened was closed, unless its close was made to fail.
    FUZZ_CHECK(fake.openKeys == static_cast<int>(FailedCloses(fake)));
    for (const std::string& call : fake.calls)
        FUZZ_CHECK(call != "RegCloseKey " + std::to_string(root) &&
                   call != "RegCloseKey " + std::to_string(velmo::HkeyLocalMachine));
    return 0;
}
