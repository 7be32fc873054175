#include "server/agent_pages.h"

#include <gtest/gtest.h>

namespace quarrin {
namespace {

TEST(AgentPagesTest, TheMenusFactsAndNotItsLinks) {
  const std::string menu =
      "<html>\r\n<head>\r\n<title>Quarrin</title>\r\n</head>\r\n<body>\r\n"
      "<b><a href=\"help\">Help</a></b><br />\r\n"
      "<b><a href=\"?msg=test\">Message</a></b><br /><b><a href=\"info\">Quarrin</a></b><br />\r\n"
      "<br /><b>Date Time: </b>11/12/26 06:01:02.003<br />\r\n"
      "<b>Version: </b>1.0.0.1<br />\r\n"
      "<b>Host Name: </b>PC-07<br />\r\n"
      "\r\n\r\n"
      "<b>PC Serial No: </b><script>x</script><br />\r\n"
      "<b>Comment: </b>caf\xe9<br />\r\n</body>\r\n</html>";
  EXPECT_EQ(AgentMenuFacts(menu), (AgentFacts{{"Date Time", "11/12/26 06:01:02.003"},
                                              {"Version", "1.0.0.1"},
                                              {"Host Name", "PC-07"},
                                              {"PC Serial No", "<script>x</script>"},
                                              {"Comment", "caf\xc3\xa9"}}));
  EXPECT_TRUE(AgentMenuFacts("").empty());
  EXPECT_TRUE(AgentMenuFacts("<b>Version: </b>cut off").empty());
}

TEST(AgentPagesTest, TheElementsOfAnXmlReply) {
  EXPECT_EQ(AgentXmlFacts("<?xml version=\"1.0\" ?><Quarrin><Version>1.0.0.1</Version>"
                          "<MachineName>PC-07</MachineName><Syslog></Syslog>"
                          "<RegisteredOwner>M\xfcller</RegisteredOwner></Quarrin>"),
            (AgentFacts{{"Version", "1.0.0.1"},
                        {"MachineName", "PC-07"},
                        {"Syslog", ""},
                        {"RegisteredOwner", "M\xc3\xbcller"}}));
  EXPECT_FALSE(AgentXmlFacts("Forbidden: this client may not read from this agent"));
  EXPECT_FALSE(AgentXmlFacts("<Quarrin><Version>1"));
}

}  // namespace
}  // namespace quarrin
