// provides: XML XMLList Namespace QName isXMLName __lang.xml
// natives: xmlNatives
// E4X (ECMA-357): the XML, XMLList, Namespace and QName objects, isXMLName, and the helpers
// that the translated E4X syntax calls (__lang.xml). All of it is native
// (core/xml/binding/): this unit only installs it, on the first use of any of them.
native.install(this, __lang);
