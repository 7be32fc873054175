#include "server/wsdl.h"

#include <cctype>

namespace quarrin {

namespace {

// What goes before the address and after it; the address is the one part
// that varies.
constexpr char kHead[] = R"wsdl(<?xml version="1.0" encoding="utf-8"?>
<definitions xmlns="http://schemas.xmlsoap.org/wsdl/" xmlns:xs="http://www.w3.org/2001/XMLSchema" name="IQuarrinservice" targetNamespace="http://tempuri.org/" xmlns:tns="http://tempuri.org/" xmlns:soap="http://schemas.xmlsoap.org/wsdl/soap/" xmlns:soapenc="http://schemas.xmlsoap.org/soap/encoding/" xmlns:ns1="urn:QuarrinIntf">
  <types>
    <xs:schema targetNamespace="urn:QuarrinIntf" xmlns="urn:QuarrinIntf">
      <xs:simpleType name="tRC">
        <xs:restriction base="xs:string">
          <xs:enumeration value="rcOK"/>
          <xs:enumeration value="rcFailed"/>
          <xs:enumeration value="rcFailedGuid"/>
          <xs:enumeration value="rcFailedInsert"/>
          <xs:enumeration value="rcFailedUpdate"/>
          <xs:enumeration value="rcFailedDelete"/>
          <xs:enumeration value="rcFailedNotFound"/>
          <xs:enumeration value="rcFailedSelectUnknown"/>
          <xs:enumeration value="rcFailedInsertUnknown"/>
          <xs:enumeration value="rcFailedInsetAlreadyExists"/>
          <xs:enumeration value="rcFailedEventDoesNotExist"/>
          <xs:enumeration value="rcFailedTransactionsAttached"/>
          <xs:enumeration value="rcFailedSQLSelectError"/>
        </xs:restriction>
      </xs:simpleType>
      <xs:complexType name="tPCDetails">
        <xs:sequence>
          <xs:element name="MachineName" type="xs:string" minOccurs="0"/>
          <xs:element name="LastLogin" type="xs:string" minOccurs="0"/>
          <xs:element name="RegisteredOwner" type="xs:string" minOccurs="0"/>
          <xs:element name="RegisteredOrganisation" type="xs:string" minOccurs="0"/>
          <xs:element name="CPUSpeed" type="xs:int" minOccurs="0"/>
          <xs:element name="CPUId" type="xs:string" minOccurs="0"/>
          <xs:element name="CPUName" type="xs:string" minOccurs="0"/>
          <xs:element name="CurrentVersion" type="xs:string" minOccurs="0"/>
          <xs:element name="TotCPU" type="xs:int" minOccurs="0"/>
          <xs:element name="ProductID" type="xs:string" minOccurs="0"/>
          <xs:element name="ProductName" type="xs:string" minOccurs="0"/>
          <xs:element name="ServicePack" type="xs:string" minOccurs="0"/>
          <xs:element name="SourcePath" type="xs:string" minOccurs="0"/>
          <xs:element name="IEVersion" type="xs:string" minOccurs="0"/>
          <xs:element name="PhysicalMemory" type="xs:string" minOccurs="0"/>
          <xs:element name="VMWare" type="xs:boolean" minOccurs="0"/>
          <xs:element name="InstallDate" type="xs:dateTime" minOccurs="0"/>
          <xs:element name="NBNodeType" type="xs:int" minOccurs="0"/>
        </xs:sequence>
      </xs:complexType>
      <xs:complexType name="tPCDetails2">
        <xs:sequence>
          <xs:element name="MachineName" type="xs:string" minOccurs="0"/>
          <xs:element name="AquisitionDate" type="xs:dateTime" minOccurs="0"/>
          <xs:element name="Comments" type="xs:string" minOccurs="0"/>
          <xs:element name="SerialNo" type="xs:string" minOccurs="0"/>
        </xs:sequence>
      </xs:complexType>
      <xs:complexType name="tApplicationDetails">
        <xs:sequence>
          <xs:element name="MachineName" type="xs:string" minOccurs="0"/>
          <xs:element name="Application" type="xs:string" minOccurs="0"/>
          <xs:element name="Path" type="xs:string" minOccurs="0"/>
          <xs:element name="Version" type="xs:string" minOccurs="0"/>
        </xs:sequence>
      </xs:complexType>
    </xs:schema>
  </types>
  <message name="PutPCDetails0Request">
    <part name="guid" type="xs:string"/>
    <part name="PCDetails" type="ns1:tPCDetails"/>
  </message>
  <message name="PutPCDetails0Response">
    <part name="return" type="ns1:tRC"/>
  </message>
  <message name="PutPCDetails21Request">
    <part name="guid" type="xs:string"/>
    <part name="PCDetails2" type="ns1:tPCDetails2"/>
  </message>
  <message name="PutPCDetails21Response">
    <part name="return" type="ns1:tRC"/>
  </message>
  <message name="PutApplicationDetails2Request">
    <part name="guid" type="xs:string"/>
    <part name="ApplicationDetails" type="ns1:tApplicationDetails"/>
  </message>
  <message name="PutApplicationDetails2Response">
    <part name="return" type="ns1:tRC"/>
  </message>
  <portType name="IQuarrin">
    <operation name="PutPCDetails">
      <input message="tns:PutPCDetails0Request"/>
      <output message="tns:PutPCDetails0Response"/>
    </operation>
    <operation name="PutPCDetails2">
      <input message="tns:PutPCDetails21Request"/>
      <output message="tns:PutPCDetails21Response"/>
    </operation>
    <operation name="PutApplicationDetails">
      <input message="tns:PutApplicationDetails2Request"/>
      <output message="tns:PutApplicationDetails2Response"/>
    </operation>
  </portType>
  <binding name="IQuarrinbinding" type="tns:IQuarrin">
    <soap:binding style="rpc" transport="http://schemas.xmlsoap.org/soap/http"/>
)wsdl";

constexpr char kOperations[][32] = {"PutPCDetails", "PutPCDetails2", "PutApplicationDetails"};

std::string Operation(const char* name) {
  const std::string body =
      "<soap:body use=\"encoded\" encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\" "
      "namespace=\"urn:QuarrinIntf-IQuarrin\"/>";
  return std::string("    <operation name=\"") + name + "\">\n"
         "      <soap:operation soapAction=\"urn:QuarrinIntf-IQuarrin#" + name +
         "\" style=\"rpc\"/>\n"
         "      <input>" + body + "</input>\n"
         "      <output>" + body + "</output>\n"
         "    </operation>\n";
}

std::string AttributeText(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

bool HostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

}  // namespace

std::string ServiceDescription(std::string_view endpoint_url) {
  std::string out = kHead;
  for (const char* name : kOperations) out += Operation(name);
  out += "  </binding>\n"
         "  <service name=\"IQuarrinservice\">\n"
         "    <port name=\"IQuarrinPort\" binding=\"tns:IQuarrinbinding\">\n"
         "      <soap:address location=\"" + AttributeText(endpoint_url) + "\"/>\n"
         "    </port>\n"
         "  </service>\n"
         "</definitions>\n";
  return out;
}

std::optional<std::string> EndpointUrlFor(bool https, std::string_view host_header) {
  std::string_view host = host_header;
  std::string_view port;
  if (!host.empty() && host.front() == '[') {
    const size_t close = host.find(']');
    if (close == std::string_view::npos || close == 1) return std::nullopt;
    for (char c : host.substr(1, close - 1)) {
      if (!(std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.')) return std::nullopt;
    }
    port = host.substr(close + 1);
    if (!port.empty() && port.front() != ':') return std::nullopt;
  } else {
    const size_t colon = host.find(':');
    if (colon != std::string_view::npos) port = host.substr(colon);
    const std::string_view name = host.substr(0, colon);
    if (name.empty()) return std::nullopt;
    for (char c : name) {
      if (!HostChar(c)) return std::nullopt;
    }
  }
  if (!port.empty()) {
    const std::string_view digits = port.substr(1);
    if (digits.empty() || digits.size() > 5) return std::nullopt;
    for (char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
    }
  }
  return std::string(https ? "https://" : "http://") + std::string(host_header) + kSoapEndpointPath;
}

}  // namespace quarrin
