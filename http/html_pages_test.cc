#include "http/html_pages.h"

#include <gtest/gtest.h>

#include <string>

namespace quarrin {
namespace {

constexpr char kHead[] =
    "<html>\r\n<head>\r\n"
    "<meta http-equiv=\"Content-Type\" content=\"text/html;charset=utf-8\" />\r\n";

TEST(HtmlPagesTest, TheStylesheetIsNineteenLinesOf2331Bytes) {
  const std::string_view css = StylesheetBlock();
  EXPECT_EQ(css.size(), 2331u);
  size_t lines = 0;
  for (size_t at = css.find("\r\n"); at != std::string_view::npos; at = css.find("\r\n", at + 2)) {
    ++lines;
  }
  EXPECT_EQ(lines, 19u);
  EXPECT_TRUE(css.starts_with("<style type=\"text/css\">\r\n<!--\r\nbody       {font-family: "));
  EXPECT_TRUE(css.ends_with("\r\n.MainBkgnd {background-color : #003366; }\r\n-->\r\n</style>\r\n"));
}

TEST(HtmlPagesTest, TheDocTypeChoosesDeclarationAndStylesheet) {
  const std::string strict =
      "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\" "
      "\"http://www.w3.org/TR/html4/strict.dtd\">\r\n";
  const std::string loose =
      "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\" "
      "\"http://www.w3.org/TR/html4/loose.dtd\" />\r\n";
  const std::string css(StylesheetBlock());
  const std::string tail = "<title>T</title>\r\n";
  const struct {
    int doc_type;
    std::string expected;
  } cases[] = {
      {1, strict + kHead + tail + css + "</head>\r\n"},
      {2, loose + kHead + tail + css + "</head>\r\n"},
      {0, kHead + tail + css + "</head>\r\n"},
      {7, kHead + tail + css + "</head>\r\n"},
      {-1, kHead + tail + "</head>\r\n"},
      {-5, kHead + tail + "</head>\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(BuildHtmlPage("T", c.doc_type), c.expected) << c.doc_type;
}

constexpr char kMenuTop[] =
    "<html>\r\n<head>\r\n"
    "<meta http-equiv=\"Content-Type\" content=\"text/html;charset=utf-8\" />\r\n"
    "<title>Quarrin</title>\r\n</head>\r\n"
    "<body style=\"font-family:Verdana,Arial,Helvetica,sans-serif; font-size:8pt; "
    "text-decoration:none; font-weight:normal;\">\r\n"
    "<span style=\"font-size:12pt; text-decoration: underline; font-weight: bold;\">QUARRIN</span>"
    "<br />\r\n"
    "<b><a href=\"help\">Help</a></b><br />\r\n"
    "<b><a href=\"apps\">App Info</a></b><br />\r\n"
    "<b><a href=\"disk_d\">Disk use (Daily)</a></b><br />\r\n"
    "<b><a href=\"disk_w\">Disk use (Weekly)</a></b><br />\r\n"
    "<b><a href=\"disk_m\">Disk use (Monthly)</a></b><br />\r\n"
    "<b><a href=\"disk_y\">Disk use (Yearly)</a></b><br />\r\n"
    "<b><a href=\"mapdisk\">Map disk</a></b><br />\r\n"
    "<b><a href=\"odx\">Last ODX Tx</a></b><br />\r\n"
    "<b><a href=\"?msg=test\">Message</a></b><br /><b><a href=\"info\">Quarrin</a></b><br />\r\n"
    "<b><a href=\"setcomment=\">SetComment=</a></b><br />\r\n"
    "<b><a href=\"setinstalldate=\">SetInstallDate=</a></b><br />\r\n"
    "<b><a href=\"setserialno=\">SetSerialNo=</a></b><br />\r\n"
    "<b><a href=\"update\">Check for update</a></b><br />\r\n"
    "<br /><b>Date Time: </b>05/01/06 13:45:07.123<br />\r\n"
    "<b>Version: </b>10.11.31.0<br />\r\n";

TEST(MenuPageTest, NothingRecordedLeavesFiveEmptyLines) {
  MenuPageValues v;
  v.date_time = "05/01/06 13:45:07.123";
  v.version = "10.11.31.0";
  EXPECT_EQ(BuildMenuPage(v), std::string(kMenuTop) + "\r\n\r\n\r\n\r\n\r\n</body>\r\n</html>");
}

TEST(MenuPageTest, EveryValueOnItsLineAndMarkupShownNotRun) {
  MenuPageValues v;
  v.date_time = "05/01/06 13:45:07.123";
  v.version = "10.11.31.0";
  v.local_machine_name = "PC-OFFICE";
  v.attributes.AquisitionDate = "01/02/2005";
  v.attributes.InstallDate = "03/04/2005";
  v.attributes.SerialNo = "ABC123";
  v.attributes.Comment = "<script>x()</script> & co";
  v.attributes.DownloadURL = "http://never.shown";
  EXPECT_EQ(BuildMenuPage(v),
            std::string(kMenuTop) +
                "<b>Host Name: </b>PC-OFFICE<br />\r\n"
                "<b>Aquisition Date: </b>01/02/2005<br />\r\n"
                "<b>Install Date: </b>03/04/2005<br />\r\n"
                "<b>PC Serial No: </b>ABC123<br />\r\n"
                "<b>Comment: </b>&lt;script&gt;x()&lt;/script&gt; &amp; co<br />\r\n"
                "</body>\r\n</html>");
}

}  // namespace
}  // namespace quarrin
