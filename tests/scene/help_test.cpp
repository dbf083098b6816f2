// The help boxes say exactly what was written for them, odd spellings and line
// breaks included: one 64-bit hash of title and text per entry, so a changed
// word names its entry without a second copy of the texts.
#include <gtest/gtest.h>
#include "panel/panel.h"

namespace {

uint64_t hashOf(const HelpEntry &e)  // FNV-1a over the title, its terminator and the text
{
    uint64_t h = 0xcbf29ce484222325ull;
    for (const char *s : {e.title, e.text})
        for (const char *c = s; c == s || c[-1]; c++) h = (h ^ (unsigned char)*c) * 0x100000001b3ull;
    return h;
}

const uint64_t CONTROL_HELP[KEY_FIRST] = {
    0xeb2a8412b74b088full, 0x86ee0f9f0780d522ull, 0x26900f4c35620553ull, 0x3f0f2d661755c8b0ull, 0xd383df8c9811fd06ull,
    0xd6c3084cdfb163cdull, 0x095fd1ee454eb4e5ull, 0xff3f156ed902b558ull, 0x4e9600d683d2a3c8ull, 0x05c1bee86af38062ull,
    0x934eb5a1ae8ed582ull, 0xf3832bce2d05110dull, 0x636d3949cb6066baull, 0xc194f30c93175967ull, 0xf681081ec5be7b20ull,
    0x07416b2ec7a8230eull, 0xb6b1dfa4aed50becull, 0x3c5c11a8aa4b2d11ull, 0x9f66e35477a8a00full, 0x0b4fe23fc6ac9414ull,
    0x42d234ed551bd3a5ull};
const uint64_t KEY_HELP[12] = {  // C to B, the same in every octave
    0x02b3ccbe43218c78ull, 0xce13f134ddb06b27ull, 0xa204408c73594257ull, 0x0eb77ac564718e02ull,
    0x4aaf4bd57036d4b2ull, 0xe198b5605bcce7e1ull, 0x32b840a5ff3484dcull, 0x1ac1e8ea84b20224ull,
    0xbda93e0e42aca15bull, 0x03f4423f4f803ea6ull, 0xc630a165dfb6d1cdull, 0x8ef1297d2dbccc45ull};
const uint64_t KIND_HELP[4] = {0x05bb2d76e5fcdfebull, 0xf26566cbfdf26b87ull, 0x864421249878ae26ull, 0xae91f44f4408d873ull};

TEST(HelpTexts, EveryTitleAndTextAsWritten)
{
    for (int i = 0; i < CONTROL_COUNT; i++)
        EXPECT_EQ(hashOf(controlHelp[i]), i < KEY_FIRST ? CONTROL_HELP[i] : KEY_HELP[(i - KEY_FIRST) % 12]) << "control " << i << " " << controlHelp[i].title;
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(hashOf(kindHelp[i]), KIND_HELP[i]) << "kind " << i << " " << kindHelp[i].title;
}

}  // namespace
