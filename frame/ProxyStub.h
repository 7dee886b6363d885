// Marshalling of the component's custom interfaces (IMediaSource, IMediaFileTemplate,
// IFlashFile5, IMediaStream, IFlashVideoStream5, IFlashAudioStream5) between apartments, so that
// a host in the multithreaded apartment can use the apartment-threaded classes through COM's
// proxies. On Windows the module carries the proxy/stub code that widl generates from
// frame/zevflashfile5.idl and serves its class object (PSFactoryBuffer, whose class identifier
// is IMediaSource's IID); registration writes, and unregistration removes,
//   HKCR\Interface\{iid} = name, \ProxyStubClsid32 = {PSFactoryBuffer}, \NumMethods = count
//   HKCR\CLSID\{PSFactoryBuffer} = "PSFactoryBuffer", \InprocServer32 = the module,
//                                  ThreadingModel "Both"
// (per user below HKEY_CURRENT_USER\Software\Classes). The stand-in has no apartments and no
// marshalling: there these do nothing (frame/posix/ProxyStub.cpp).
#pragma once

#include <string>

#include "frame/registrar/Registrar.h"
#include "platform/Guid.h"

// The proxy/stub class object when `clsid` is its class; CLASS_E_CLASSNOTAVAILABLE otherwise.
HRESULT ProxyStubClassObject(REFCLSID clsid, REFIID riid, void** ppv) noexcept;
// False while a proxy or stub made by the module is alive.
bool ProxyStubCanUnload() noexcept;
// Writes or removes the keys above for the module at `modulePath`.
HRESULT UpdateProxyStubRegistry(RegistrarMode mode, const std::wstring& modulePath,
                                bool perUser) noexcept;
