// The share-link resolution's requests and the cuts it makes from the pages
// and replies of the file-sharing site.

#include "core/updater/share_link.h"

#include <gtest/gtest.h>

using namespace updater;

namespace {

const std::string base = "https://share.example.org";
const std::string word30 = "abcdefghijABCDEFGHIJ0123456789";
const std::string word40 = word30 + "_k_l_m_n_o";

net::Headers formHeaders(const std::string& agent, const std::string& referer) {
    return {{"user-agent", agent},
            {"referer", referer},
            {"Content-Type", "application/x-www-form-urlencoded"}};
}

} // namespace

TEST(ShareLinkRequests, MethodsAddressesHeadersInOrderAndBodies) {
    const net::Request share = sharePageRequest("http://s.example/abc", base);
    EXPECT_EQ(share.method, "GET");
    EXPECT_EQ(share.url, "http://s.example/abc");
    EXPECT_EQ(share.headers, (net::Headers{{"user-agent", kBrowserIdentityA}, {"origin", base}}));
    EXPECT_EQ(share.body, std::optional<std::string>(""));
    EXPECT_TRUE(share.followRedirects);

    const net::Request frame = framePageRequest(base + "/fn?" + word30);
    EXPECT_EQ(frame.method, "GET");
    EXPECT_EQ(frame.url, base + "/fn?" + word30);
    EXPECT_EQ(frame.headers, formHeaders(kBrowserIdentityA, base + "/fn?" + word30));
    EXPECT_EQ(frame.body, std::optional<std::string>(""));

    // The referer is base + "/fn?" + the sign, and the header is spelled in
    // lower case here.
    const net::Request post = downProcessRequest(word40, base);
    EXPECT_EQ(post.method, "POST");
    EXPECT_EQ(post.url, base + "/ajaxm.php");
    EXPECT_EQ(post.headers, (net::Headers{{"user-agent", kBrowserIdentityA},
                                          {"referer", base + "/fn?" + word40},
                                          {"content-type", "application/x-www-form-urlencoded"}}));
    EXPECT_EQ(post.body, "action=downprocess&sign=" + word40 + "&ves=1");
    // An empty sign goes out all the same, unencoded.
    EXPECT_EQ(downProcessRequest("", base).body, "action=downprocess&sign=&ves=1");

    const net::Request file = redirectRequest(R"(https:\/\/dl.example.org\/file\/?abc)");
    EXPECT_EQ(file.method, "GET");
    EXPECT_EQ(file.url, "https://dl.example.org/file/?abc");
    EXPECT_EQ(file.headers, (net::Headers{{"Content-Type", "application/x-www-form-urlencoded"},
                                          {"User-Agent", kBrowserIdentityB},
                                          {"Accept-Language", "zh-CN,zh;q=0.9,en;q=0.8"}}));
    EXPECT_FALSE(file.body.has_value());
    EXPECT_FALSE(file.followRedirects);
}

// Every request of the resolution is bounded as a whole, not only while the
// line is silent: a server that drips its answer cannot hold the updater.
TEST(ShareLinkRequests, EachRequestHasATotalTimeLimit) {
    const net::Request requests[] = {
        sharePageRequest("http://s.example/abc", base),
        framePageRequest(base + "/fn?" + word30),
        downProcessRequest(word40, base),
        redirectRequest("https://dl.example.org/file/?abc"),
    };
    for (const net::Request& r : requests) {
        EXPECT_EQ(r.timeouts.totalMs, kRequestTotalMs) << r.url;
        // The silent-line limits stay those of the platform's request object.
        EXPECT_EQ(r.timeouts.connectMs, 60'000) << r.url;
        EXPECT_EQ(r.timeouts.receiveMs, 30'000) << r.url;
    }
    EXPECT_GT(kRequestTotalMs, 30'000);
    EXPECT_LE(4 * kRequestTotalMs, 5 * 60'000);
}

TEST(FramePath, FirstMatchWithAtLeastThirtyWordCharacters) {
    EXPECT_EQ(FindFramePath("<iframe src=\"/fn?" + word30 + "\" ></iframe>"), "/fn?" + word30);
    // 29 characters are too few; the next candidate is taken.
    EXPECT_EQ(FindFramePath("src=\"/fn?" + word30.substr(1) + "\" src=\"/fn?" + word40 + "\""),
              "/fn?" + word40);
    // A non-word character inside the run breaks it.
    EXPECT_EQ(FindFramePath("src=\"/fn?" + word30 + "-x\""), "");
    // Case-sensitive: SRC is not src.
    EXPECT_EQ(FindFramePath("SRC=\"/fn?" + word30 + "\""), "");
    EXPECT_EQ(FindFramePath("<html>nothing</html>"), "");
    EXPECT_EQ(FindFramePath(""), "");
}

TEST(FramePath, AHugeRunOfWordCharactersIsRefusedWithoutExhaustingTheStack) {
    const std::string huge(2'000'000, 'a');
    EXPECT_EQ(FindFramePath("src=\"/fn?" + huge + "\""), "");
    // A later, ordinary frame is still found.
    EXPECT_EQ(FindFramePath("src=\"/fn?" + huge + "\" src=\"/fn?" + word30 + "\""),
              "/fn?" + word30);
    std::string atTheLimit(kMaxMatchedValue, 'b');
    EXPECT_EQ(FindFramePath("src=\"/fn?" + atTheLimit + "\""), "/fn?" + atTheLimit);
}

TEST(Sign, FromPosturlWhenThePageUsesIt) {
    const std::string page = "<script>var a = 1;\nvar posturl = '" + word40 +
                             "';\n$.ajax({data:{'action':'downprocess','sign':posturl,'ves':1}})";
    EXPECT_EQ(FindSign(page), word40);
    // The posturl form wins even when a quoted sign stands before it.
    EXPECT_EQ(FindSign("'sign':'" + word30 + "xx' var posturl = '" + word40 + "'; ,'sign':posturl"),
              word40);
    // With the marker but no posturl of 30 or more characters: no sign.
    EXPECT_EQ(FindSign("x,'sign':posturl var posturl = '" + word30.substr(1) + "';"), "");
}

TEST(Sign, FromTheQuotedSignOtherwise) {
    const std::string word32 = word30 + "XY";
    EXPECT_EQ(FindSign("data : { 'action':'downprocess','sign':'" + word32 + "','ves':1 }"),
              word32);
    // 29 word characters do not match.
    EXPECT_EQ(FindSign("'sign':'" + word30.substr(1) + "'"), "");
    // The marker at the very first character does not count, so the quoted
    // form is used.
    EXPECT_EQ(FindSign(",'sign':posturl 'sign':'" + word30 + "' var posturl = '" + word40 + "';"),
              word30);
    EXPECT_EQ(FindSign(""), "");
}

TEST(FileUrl, DomainAndToken) {
    EXPECT_EQ(BuildFileUrl(R"({"zt":1,"dom":"https:\/\/dl.example.org","url":"?abc","inf":0})"),
              "https://dl.example.org/file/?abc");
    // The second domain field wins.
    EXPECT_EQ(BuildFileUrl(R"({"dom":"https://first.example","x":{"dom":"https://second.example"},)"
                           R"("url":"?t"})"),
              "https://second.example/file/?t");
    // Backslashes in the token go too.
    EXPECT_EQ(BuildFileUrl(R"({"dom":"d","url":"?a\/b\/c"})"), "d/file/?a/b/c");
    // The token runs to the first quote; a second token field is ignored.
    EXPECT_EQ(BuildFileUrl(R"({"dom":"d","url":"one","url":"two"})"), "d/file/one");
    // A token field at the very end gives an empty token.
    EXPECT_EQ(BuildFileUrl(R"({"dom":"d","url":")"), "d/file/");
    // No domain: the address starts with "/file/".
    EXPECT_EQ(BuildFileUrl(R"({"url":"?abc"})"), "/file/?abc");
}

TEST(FileUrl, NoTokenFieldGivesNothing) {
    EXPECT_EQ(BuildFileUrl(R"({"zt":0,"dom":"https:\/\/dl.example.org","inf":"sign error"})"), "");
    EXPECT_EQ(BuildFileUrl(""), "");
    EXPECT_EQ(BuildFileUrl("<html>502 Bad Gateway</html>"), "");
}

TEST(RedirectLocation, AnAddressThatCannotBeRequestedGivesNothing) {
    EXPECT_EQ(GetRedirectLocation(""), "");
    EXPECT_EQ(GetRedirectLocation("/file/?abc"), "");
}
