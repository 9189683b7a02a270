// The base of the test objects that own something outside the object (a
// folder, an environment setting, a process): a copy would release it twice.
#pragma once

namespace quarry {
namespace testing {

class NonCopyable {
public:
    NonCopyable(const NonCopyable&) = delete;
    NonCopyable& operator=(const NonCopyable&) = delete;

protected:
    NonCopyable() = default;
    ~NonCopyable() = default;
};

}  // namespace testing
}  // namespace quarry
