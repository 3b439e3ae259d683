// The DOM over libxml2: lists and nodes, child paths, texts, attributes and parse errors.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/base/error.h"
#include "platform/xml/dom.h"

namespace platform::xml {
namespace {

constexpr const char* kResponse = R"(<?xml version="1.0" encoding="utf-16"?>
<?qbxml version="2.0"?>
<QBXML>
  <QBXMLMsgsRs onError="continueOnError">
    <ClassQueryRs requestID="1" statusCode="0" statusSeverity="Info" statusMessage="Status OK">
      <ClassRet>
        <ListID>AB-1</ListID>
        <Name>Overhead</Name>
        <ParentRef><ListID>P-1</ListID><FullName>Top</FullName></ParentRef>
      </ClassRet>
      <ClassRet>
        <ListID>AB-2</ListID>
        <Name> Tom &amp; Jerry&#x2019;s </Name>
        <ParentRef><FullName>Only name</FullName></ParentRef>
        <ParentRef><ListID>P-2</ListID></ParentRef>
      </ClassRet>
    </ClassQueryRs>
    <Nested><Deeper><ClassRet><ListID>AB-3</ListID></ClassRet></Deeper></Nested>
  </QBXMLMsgsRs>
</QBXML>
)";

Document Loaded(std::string_view text) {
  Document doc;
  EXPECT_TRUE(doc.LoadXml(text)) << doc.parseError().reason;
  return doc;
}

TEST(DomTest, ListsAndNodesOutliveTheirDocument) {
  NodeList classes;
  Node first;
  {
    Document doc = Loaded(kResponse);
    EXPECT_TRUE(doc.parsed());
    classes = doc.getElementsByTagName("ClassRet");
    first = doc.documentElement();
  }
  ASSERT_EQ(classes.length(), 3u);
  EXPECT_EQ(classes.item(0).selectSingleNode("ListID").text(), "AB-1");
  EXPECT_EQ(classes.item(2).selectSingleNode("ListID").text(), "AB-3");
  EXPECT_EQ(first.nodeName(), "QBXML");
  EXPECT_TRUE(classes.item(3).IsNull());
  EXPECT_EQ(classes.item(3).text(), "");
  EXPECT_TRUE(classes.item(3).selectSingleNode("ListID").IsNull());
}

TEST(DomTest, ElementsByTagNameInDocumentOrderAtAnyDepth) {
  Document doc = Loaded("<a><b id='1'><b id='2'/></b><c><b id='3'/></c><b id='4'/></a>");
  NodeList bs = doc.getElementsByTagName("b");
  ASSERT_EQ(bs.length(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(bs.item(i).getAttribute("id"), std::to_string(i + 1));
  // Below a node the node itself is not included.
  EXPECT_EQ(bs.item(0).getElementsByTagName("b").length(), 1u);
  NodeList all = doc.getElementsByTagName("*");
  ASSERT_EQ(all.length(), 6u);
  EXPECT_EQ(all.item(0).nodeName(), "a");
  EXPECT_EQ(all.item(4).nodeName(), "b");
  EXPECT_EQ(doc.getElementsByTagName("B").length(), 0u);  // names are case-sensitive
}

TEST(DomTest, RelativeChildPaths) {
  Document doc = Loaded(kResponse);
  NodeList classes = doc.getElementsByTagName("ClassRet");
  EXPECT_EQ(classes.item(0).selectSingleNode("ParentRef/ListID").text(), "P-1");
  // The first ParentRef lacks a ListID; the path still finds the one under the second, as XPath would.
  EXPECT_EQ(classes.item(1).selectSingleNode("ParentRef/ListID").text(), "P-2");
  EXPECT_EQ(classes.item(1).selectSingleNode("ParentRef/FullName").text(), "Only name");
  EXPECT_TRUE(classes.item(2).selectSingleNode("ParentRef/ListID").IsNull());
  EXPECT_TRUE(classes.item(0).selectSingleNode("Missing").IsNull());
  EXPECT_EQ(doc.selectSingleNode("QBXML/QBXMLMsgsRs/Nested/Deeper/ClassRet/ListID").text(), "AB-3");
  EXPECT_EQ(classes.item(0).selectSingleNode("/QBXML/QBXMLMsgsRs/ClassQueryRs").getAttribute("requestID"), "1");
  EXPECT_EQ(classes.item(0).selectSingleNode("*/FullName").text(), "Top");
  EXPECT_EQ(doc.selectNodes("QBXML/QBXMLMsgsRs/ClassQueryRs/ClassRet/ParentRef").length(), 3u);
  // Only child steps are understood; anything else is refused rather than answered wrongly.
  EXPECT_THROW(doc.selectSingleNode("//ClassRet"), kv::Error);
  EXPECT_THROW(doc.selectSingleNode("QBXML[1]"), kv::Error);
  EXPECT_THROW(doc.selectSingleNode("@id"), kv::Error);
  EXPECT_THROW(doc.selectSingleNode(""), kv::Error);
}

TEST(DomTest, TextIsUntrimmedWithEntitiesAndCData) {
  Document doc = Loaded(kResponse);
  Node name = doc.getElementsByTagName("ClassRet").item(1).selectSingleNode("Name");
  EXPECT_EQ(name.text(), " Tom & Jerry\u2019s ");
  Document cdata = Loaded("<r> a<![CDATA[<b>&amp;]]><!-- no --><?pi no?><i>c</i>\r\n</r>");
  // Line ends are normalised by the parser as XML requires.
  EXPECT_EQ(cdata.documentElement().text(), " a<b>&amp;c\n");
  Node parentRef = doc.getElementsByTagName("ParentRef").item(0);
  EXPECT_EQ(parentRef.text(), "P-1Top");
  std::string buffer = "x";
  parentRef.AppendText(buffer);
  EXPECT_EQ(buffer, "xP-1Top");
}

TEST(DomTest, AttributesChildNodesAndNames) {
  Document doc = Loaded(R"(<r xmlns:q="urn:q"><q:A k="v &lt; w"/>text<B/><!--c--></r>)");
  Node root = doc.documentElement();
  NodeList children = root.childNodes();
  ASSERT_EQ(children.length(), 4u);
  EXPECT_EQ(children.item(0).nodeName(), "q:A");
  EXPECT_EQ(children.item(0).nodeType(), NodeType::kElement);
  EXPECT_EQ(children.item(1).nodeName(), "#text");
  EXPECT_EQ(children.item(2).nodeName(), "B");
  EXPECT_EQ(children.item(3).nodeName(), "#comment");
  EXPECT_EQ(children.item(0).getAttribute("k"), "v < w");
  EXPECT_TRUE(children.item(0).hasAttribute("k"));
  EXPECT_FALSE(children.item(0).hasAttribute("x"));
  EXPECT_EQ(children.item(0).getAttribute("x"), "");
  EXPECT_EQ(root.selectSingleNode("q:A").getAttribute("k"), "v < w");
  EXPECT_EQ(doc.getElementsByTagName("q:A").length(), 1u);
  EXPECT_EQ(children.item(2).parentNode(), root);
  EXPECT_EQ(root.firstChild().nextSibling().text(), "text");
  EXPECT_FALSE(children.item(2).hasChildNodes());
}

TEST(DomTest, XmlOfNodeKeepsNonAsciiCharacters) {
  Document doc = Loaded("<r><a n=\"1\">caf\u00e9 &amp; co</a></r>");
  EXPECT_EQ(doc.selectSingleNode("r/a").xml(), "<a n=\"1\">caf\u00e9 &amp; co</a>");
}

TEST(DomTest, ParseErrorCarriesReasonLineAndColumn) {
  Document doc = Loaded("<a/>");
  EXPECT_FALSE(doc.LoadXml("<a>\r\n  <b></a>\r\n"));
  EXPECT_FALSE(doc.parsed());
  // A failed load drops the earlier tree.
  EXPECT_TRUE(doc.documentElement().IsNull());
  EXPECT_EQ(doc.getElementsByTagName("*").length(), 0u);
  const ParseError& e = doc.parseError();
  EXPECT_NE(e.errorCode, 0);
  EXPECT_NE(e.reason.find("mismatch"), std::string::npos) << e.reason;
  EXPECT_EQ(e.reason.find('\n'), std::string::npos);
  EXPECT_EQ(e.line, 2);
  EXPECT_EQ(e.linepos, 10);
  EXPECT_EQ(e.srcText, "  <b></a>");

  EXPECT_FALSE(doc.LoadXml(""));
  EXPECT_NE(doc.parseError().errorCode, 0);
  EXPECT_FALSE(doc.parseError().reason.empty());
  EXPECT_FALSE(doc.LoadXml("<r><n>1</n>"));
  EXPECT_EQ(doc.parseError().line, 1);
  // A later good load clears the error.
  EXPECT_TRUE(doc.LoadXml("<r/>"));
  EXPECT_EQ(doc.parseError().errorCode, 0);
  EXPECT_EQ(doc.parseError().reason, "");
}

TEST(DomTest, DeclaredEncodingIsIgnoredForUtf8Text) {
  for (const char* declaration :
       {"<?xml version=\"1.0\" encoding=\"utf-16\"?>", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>",
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"yes\"?>"}) {
    Document doc = Loaded(std::string(declaration) + "\n<?qbxml version=\"2.0\"?>\n<a>caf\u00e9 \u2019</a>");
    EXPECT_EQ(doc.documentElement().text(), "caf\u00e9 \u2019") << declaration;
  }
}

TEST(DomTest, ExternalEntitiesAndDtdsAreNeverFetched) {
  char dir[] = "/tmp/kv_xml_test_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string secret = std::string(dir) + "/secret.txt";
  std::string dtd = std::string(dir) + "/defs.dtd";
  { std::ofstream(secret) << "TOPSECRET"; }
  { std::ofstream(dtd) << "<!ENTITY fromdtd \"DTDVALUE\"><!ATTLIST a extra CDATA \"DEFAULTED\">"; }

  // A listening socket that nothing may connect to.
  int server = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  ASSERT_GE(server, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(server, 4), 0);
  socklen_t len = sizeof addr;
  ASSERT_EQ(getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/x.dtd";

  Document doc;
  EXPECT_TRUE(doc.LoadXml("<!DOCTYPE a SYSTEM \"" + url + "\"><a>ok</a>")) << doc.parseError().reason;
  EXPECT_TRUE(doc.LoadXml("<!DOCTYPE a [<!ENTITY net SYSTEM \"" + url + "\">]><a>&net;</a>"));
  EXPECT_EQ(accept(server, nullptr, nullptr), -1);
  close(server);

  ASSERT_TRUE(
      doc.LoadXml("<!DOCTYPE a [<!ENTITY x SYSTEM \"file://" + secret + "\"><!ENTITY y \"inner\">]><a>&x;|&y;</a>"));
  EXPECT_EQ(doc.documentElement().text(), "|inner");
  ASSERT_TRUE(doc.LoadXml("<!DOCTYPE a SYSTEM \"" + dtd + "\"><a>[&fromdtd;]</a>"));
  EXPECT_EQ(doc.documentElement().text(), "[]");
  EXPECT_FALSE(doc.documentElement().hasAttribute("extra"));
  std::filesystem::remove_all(dir);
}

TEST(DomTest, EntityExpansionBombIsRejectedQuickly) {
  // The prolog before the declaration must not hide it from the entity guard.
  std::string bomb = "<?xml version=\"1.0\"?>\n<!-- <b> -->\n<?pi <b>?><!DOCTYPE b [<!ENTITY l0 \"lol\">";
  for (int i = 1; i <= 9; ++i) {
    bomb += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) bomb += "&l" + std::to_string(i - 1) + ";";
    bomb += "\">";
  }
  bomb += "]>";
  for (const char* body : {"<b>&l9;</b>", "<b a=\"&l9;\"/>"}) {
    Document doc;
    // Either refused or kept small; never a billion characters.
    if (doc.LoadXml(bomb + body)) {
      EXPECT_LT(doc.documentElement().text().size(), 1u << 20);
      EXPECT_LT(doc.documentElement().getAttribute("a").size(), 1u << 20);
    } else {
      EXPECT_FALSE(doc.parseError().reason.empty());
    }
  }
}

TEST(DomTest, LoadReadsLocalFilesOnly) {
  char dir[] = "/tmp/kv_xml_test_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/company.xml";
  { std::ofstream(path) << "<QBStandinCompany qbxmlVersions=\"1.0 2.0\"><ClassRet/></QBStandinCompany>"; }
  Document doc;
  ASSERT_TRUE(doc.Load(path));
  EXPECT_EQ(doc.documentElement().getAttribute("qbxmlVersions"), "1.0 2.0");
  EXPECT_FALSE(doc.Load(std::string(dir) + "/missing.xml"));
  EXPECT_NE(doc.parseError().reason.find("missing.xml"), std::string::npos);
  EXPECT_FALSE(doc.Load("http://127.0.0.1:1/company.xml"));
  std::filesystem::remove_all(dir);
}

TEST(DomTest, LargeTextNodesParse) {
  std::string big(10500000, 'x');  // above libxml2's 10 MB limit for one text outside huge mode
  Document doc = Loaded("<?xml version=\"1.0\"?><!-- answer --><r><n>" + big + "</n></r>");
  EXPECT_EQ(doc.selectSingleNode("r/n").text().size(), big.size());
}

TEST(DomTest, DeepDocumentsDoNotExhaustTheStack) {
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += "<d>";
  deep += "x";
  for (int i = 0; i < 5000; ++i) deep += "</d>";
  Document doc = Loaded(deep);
  EXPECT_EQ(doc.documentElement().text(), "x");
  EXPECT_EQ(doc.getElementsByTagName("d").length(), 5000u);
}

}  // namespace
}  // namespace platform::xml
