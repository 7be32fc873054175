#include "http/html_pages.h"

#include "http/xml_replies.h"

namespace quarrin {

namespace {

constexpr std::string_view kStylesheet =
    "<style type=\"text/css\">\r\n"
    "<!--\r\n"
    "body       {font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 9pt; margin-left: 0px; margin-top: 0px; margin-right: 0px; }\r\n"
    ".h1style {color: #ffffff; font-family:Verdana,Arial,Helvetica,sans-serif; font-size:26px; font-weight:normal; background-color:#003366; margin-top:0px; margin-bottom:0px; margin-left:-30px; padding-top:0px; padding-bottom:3px; padding-left:15px; width:105%;}\r\n"
    ".Link    {color: #990000; font-family:Verdana,Arial,Helvetica,sans-serif; font-size:8pt; font-weight:bold; }\r\n"
    ".Link7   {color: #990000; font-family:Verdana,Arial,Helvetica,sans-serif; font-size:7pt; font-weight:bold; }\r\n"
    ".Faint   {color: #666666; font-family:Verdana,Arial,Helvetica,sans-serif; font-size:8pt; text-decoration:none; font-weight:normal; }\r\n"
    ".Normal  {color: #333333; font-family:Verdana,Arial,Helvetica,sans-serif; font-size:9pt; text-decoration:none; font-weight:normal; }\r\n"
    ".Normal7 {color: #333333; font-family:Verdana,Arial,Helvetica,sans-serif; font-size:7pt; text-decoration:none; font-weight:normal; }\r\n"
    ".RowOdd  {color: #333333; font-family:Verdana,Arial,Helvetica,sans-serif; font-size:9pt; text-decoration:none; font-weight:normal; vertical-align: bottom; background-color: gainsboro;}\r\n"
    ".RowOdd7  {color: #333333; font-family:Verdana,Arial,Helvetica,sans-serif; font-size:7pt; text-decoration:none; font-weight:normal; vertical-align: bottom; background-color: gainsboro;}\r\n"
    ".RowEven {color: #333333; font-family:Verdana,Arial,Helvetica,sans-serif; font-size:9pt; text-decoration:none; font-weight:normal; vertical-align: bottom; background-color: white;}\r\n"
    ".RowEven7 {color: #333333; font-family:Verdana,Arial,Helvetica,sans-serif; font-size:7pt; text-decoration:none; font-weight:normal; vertical-align: bottom; background-color: white;}\r\n"
    ".RowHead {color: #333333; font-family:Verdana,Arial,Helvetica,sans-serif; font-size:9pt; text-decoration:none; font-weight:bold; vertical-align: bottom; background-color: white;}\r\n"
    ".Bold    {color: #333333; font-family:Verdana,Arial,Helvetica,sans-serif; font-size:9pt; text-decoration:none; font-weight:bold; white-space: nowrap;}\r\n"
    ".Bold7    {color: #333333; font-family:Verdana,Arial,Helvetica,sans-serif; font-size:7pt; text-decoration:none; font-weight:bold; white-space: nowrap;}\r\n"
    ".MainBkgnd {background-color : #003366; }\r\n"
    "-->\r\n"
    "</style>\r\n";

constexpr std::string_view kMenuLinks =
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
    // The message link and the next one share a line.
    "<b><a href=\"?msg=test\">Message</a></b><br />"
    "<b><a href=\"info\">Quarrin</a></b><br />\r\n"
    "<b><a href=\"setcomment=\">SetComment=</a></b><br />\r\n"
    "<b><a href=\"setinstalldate=\">SetInstallDate=</a></b><br />\r\n"
    "<b><a href=\"setserialno=\">SetSerialNo=</a></b><br />\r\n"
    "<b><a href=\"update\">Check for update</a></b><br />\r\n";

// "<b>label</b>value<br />" when the value is not empty, then CR LF.
void OptionalLine(std::string* page, std::string_view label, std::string_view value) {
  if (!value.empty()) {
    *page += "<b>";
    *page += label;
    *page += "</b>";
    *page += XmlText(value);
    *page += "<br />";
  }
  *page += "\r\n";
}

}  // namespace

std::string_view StylesheetBlock() { return kStylesheet; }

std::string BuildHtmlPage(std::string_view title, int doc_type) {
  std::string page;
  page.reserve(kStylesheet.size() + 512);
  if (doc_type == 1) {
    page += "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\" "
            "\"http://www.w3.org/TR/html4/strict.dtd\">\r\n";
  } else if (doc_type == 2) {
    page += "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\" "
            "\"http://www.w3.org/TR/html4/loose.dtd\" />\r\n";
  }
  page += "<html>\r\n<head>\r\n";
  page += "<meta http-equiv=\"Content-Type\" content=\"text/html;charset=utf-8\" />\r\n";
  page += "<title>";
  page += XmlText(title);
  page += "</title>\r\n";
  if (doc_type >= 0) page += kStylesheet;
  page += "</head>\r\n";
  return page;
}

std::string BuildMenuPage(const MenuPageValues& v) {
  std::string page = BuildHtmlPage("Quarrin", -1);
  page.reserve(page.size() + kMenuLinks.size() + 512);
  page += kMenuLinks;
  page += "<br /><b>Date Time: </b>";
  page += XmlText(v.date_time);
  page += "<br />\r\n";
  page += "<b>Version: </b>";
  page += XmlText(v.version);
  page += "<br />\r\n";
  OptionalLine(&page, "Host Name: ", v.local_machine_name);
  OptionalLine(&page, "Aquisition Date: ", v.attributes.AquisitionDate);
  OptionalLine(&page, "Install Date: ", v.attributes.InstallDate);
  OptionalLine(&page, "PC Serial No: ", v.attributes.SerialNo);
  OptionalLine(&page, "Comment: ", v.attributes.Comment);
  page += "</body>\r\n</html>";
  return page;
}

}  // namespace quarrin
