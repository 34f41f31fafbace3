// The token extractor against a plain reading of its rule. The first byte chooses the word
// number (-2 to 253), the rest is the answer text.
#include "link/frames.h"

#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

bool IsSeparator(char c) {
    return c == ':' || c == ' ';
}

// A word begins where a separator is followed by a character that is none; word n is taken
// from its beginning up to the next blank or ";"; a beginning at ";" is an empty word.
std::string ExpectedWord(int n, const std::string& answer) {
    if (answer.empty() || answer.front() != ':' || answer.back() != ';')
        return "error";
    std::vector<std::size_t> beginnings;
    for (std::size_t i = 1; i < answer.size(); ++i)
        if (IsSeparator(answer[i - 1]) && !IsSeparator(answer[i]))
            beginnings.push_back(i);
    if (n < 1 || std::size_t(n) > beginnings.size())
        return "";
    const std::size_t from = beginnings[std::size_t(n) - 1];
    const std::size_t to = answer.find_first_of(" ;", from); // the last character is ";"
    return answer.substr(from, to - from);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const int n = int(data[0]) - 2;
    const std::string answer(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string word = rd::GetAnswerWord(n, answer);
    const std::string expected = ExpectedWord(n, answer);
    FUZZ_CHECK(word == expected, "word %d: \"%s\", expected \"%s\"", n, word.c_str(), expected.c_str());
    return 0;
}
