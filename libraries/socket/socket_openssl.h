/* OpenSSL, loaded on the first TLS use rather than with the module: mapping libssl and
 * libcrypto costs a millisecond or more that a program without TLS need not pay.
 *
 * The functions the module calls are pointers in one table, filled from the libraries by
 * opensslStart(); the names below stand for the table's entries, so the code that calls
 * OpenSSL reads as usual (the headers' macros, such as SSL_set_tlsext_host_name, reach
 * the table through the functions they expand to). Include this header instead of
 * OpenSSL's own.
 */
#ifndef CAPSULE_SOCKET_OPENSSL_H
#define CAPSULE_SOCKET_OPENSSL_H

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#define OPENSSL_FUNCTIONS(F)                                                                       \
    F(ASN1_INTEGER_set)                                                                            \
    F(BIO_clear_flags)                                                                             \
    F(BIO_ctrl)                                                                                    \
    F(BIO_free)                                                                                    \
    F(BIO_get_data)                                                                                \
    F(BIO_get_new_index)                                                                           \
    F(BIO_meth_new)                                                                                \
    F(BIO_meth_set_ctrl)                                                                           \
    F(BIO_meth_set_destroy)                                                                        \
    F(BIO_meth_set_read)                                                                           \
    F(BIO_meth_set_write)                                                                          \
    F(BIO_new)                                                                                     \
    F(BIO_s_mem)                                                                                   \
    F(BIO_set_data)                                                                                \
    F(BIO_set_flags)                                                                               \
    F(BIO_set_init)                                                                                \
    F(CRYPTO_free)                                                                                 \
    F(ERR_clear_error)                                                                             \
    F(ERR_error_string_n)                                                                          \
    F(ERR_peek_last_error)                                                                         \
    F(EVP_PKEY_free)                                                                               \
    F(EVP_PKEY_is_a)                                                                               \
    F(EVP_sha256)                                                                                  \
    F(OPENSSL_init_ssl)                                                                            \
    F(PEM_read_PrivateKey)                                                                         \
    F(PEM_write_X509)                                                                              \
    F(PEM_write_bio_X509)                                                                          \
    F(SSL_CTX_check_private_key)                                                                   \
    F(SSL_CTX_ctrl)                                                                                \
    F(SSL_CTX_free)                                                                                \
    F(SSL_CTX_new)                                                                                 \
    F(SSL_CTX_set_default_passwd_cb)                                                               \
    F(SSL_CTX_set_default_passwd_cb_userdata)                                                      \
    F(SSL_CTX_up_ref)                                                                              \
    F(SSL_CTX_use_PrivateKey_file)                                                                 \
    F(SSL_CTX_use_certificate_chain_file)                                                          \
    F(SSL_connect)                                                                                 \
    F(SSL_ctrl)                                                                                    \
    F(SSL_free)                                                                                    \
    F(SSL_get1_peer_certificate)                                                                   \
    F(SSL_get_rbio)                                                                                \
    F(SSL_is_init_finished)                                                                        \
    F(SSL_new)                                                                                     \
    F(SSL_read)                                                                                    \
    F(SSL_set_accept_state)                                                                        \
    F(SSL_set_bio)                                                                                 \
    F(SSL_set_connect_state)                                                                       \
    F(SSL_shutdown)                                                                                \
    F(SSL_write)                                                                                   \
    F(TLS_client_method)                                                                           \
    F(TLS_server_method)                                                                           \
    F(X509V3_EXT_conf_nid)                                                                         \
    F(X509V3_set_ctx)                                                                              \
    F(X509_EXTENSION_free)                                                                         \
    F(X509_NAME_add_entry_by_txt)                                                                  \
    F(X509_NAME_oneline)                                                                           \
    F(X509_add_ext)                                                                                \
    F(X509_free)                                                                                   \
    F(X509_get_serialNumber)                                                                       \
    F(X509_get_subject_name)                                                                       \
    F(X509_getm_notAfter)                                                                          \
    F(X509_getm_notBefore)                                                                         \
    F(X509_gmtime_adj)                                                                             \
    F(X509_new)                                                                                    \
    F(X509_set_issuer_name)                                                                        \
    F(X509_set_pubkey)                                                                             \
    F(X509_set_version)                                                                            \
    F(X509_sign)

typedef struct OpenSsl {
#define OPENSSL_ENTRY(name) __typeof__(&name) name;
    OPENSSL_FUNCTIONS(OPENSSL_ENTRY)
#undef OPENSSL_ENTRY
} OpenSsl;

extern OpenSsl openssl;

/* Loads and starts OpenSSL once, whichever threads come first; 1 when it is ready. The
 * reason it is not in error (size bytes) otherwise. */
int opensslStart(char* error, size_t size);
/* A pem_password_cb that hands OpenSSL the pass phrase its data points to (none: null). */
int opensslPassPhrase(char* buffer, int size, int writing, void* data);

#ifndef SOCKET_OPENSSL_LOADER
#define ASN1_INTEGER_set openssl.ASN1_INTEGER_set
#define BIO_clear_flags openssl.BIO_clear_flags
#define BIO_ctrl openssl.BIO_ctrl
#define BIO_free openssl.BIO_free
#define BIO_get_data openssl.BIO_get_data
#define BIO_get_new_index openssl.BIO_get_new_index
#define BIO_meth_new openssl.BIO_meth_new
#define BIO_meth_set_ctrl openssl.BIO_meth_set_ctrl
#define BIO_meth_set_destroy openssl.BIO_meth_set_destroy
#define BIO_meth_set_read openssl.BIO_meth_set_read
#define BIO_meth_set_write openssl.BIO_meth_set_write
#define BIO_new openssl.BIO_new
#define BIO_s_mem openssl.BIO_s_mem
#define BIO_set_data openssl.BIO_set_data
#define BIO_set_flags openssl.BIO_set_flags
#define BIO_set_init openssl.BIO_set_init
#define CRYPTO_free openssl.CRYPTO_free
#define ERR_clear_error openssl.ERR_clear_error
#define ERR_error_string_n openssl.ERR_error_string_n
#define ERR_peek_last_error openssl.ERR_peek_last_error
#define EVP_PKEY_free openssl.EVP_PKEY_free
#define EVP_PKEY_is_a openssl.EVP_PKEY_is_a
#define EVP_sha256 openssl.EVP_sha256
#define OPENSSL_init_ssl openssl.OPENSSL_init_ssl
#define PEM_read_PrivateKey openssl.PEM_read_PrivateKey
#define PEM_write_X509 openssl.PEM_write_X509
#define PEM_write_bio_X509 openssl.PEM_write_bio_X509
#define SSL_CTX_check_private_key openssl.SSL_CTX_check_private_key
#define SSL_CTX_ctrl openssl.SSL_CTX_ctrl
#define SSL_CTX_free openssl.SSL_CTX_free
#define SSL_CTX_new openssl.SSL_CTX_new
#define SSL_CTX_set_default_passwd_cb openssl.SSL_CTX_set_default_passwd_cb
#define SSL_CTX_set_default_passwd_cb_userdata openssl.SSL_CTX_set_default_passwd_cb_userdata
#define SSL_CTX_up_ref openssl.SSL_CTX_up_ref
#define SSL_CTX_use_PrivateKey_file openssl.SSL_CTX_use_PrivateKey_file
#define SSL_CTX_use_certificate_chain_file openssl.SSL_CTX_use_certificate_chain_file
#define SSL_connect openssl.SSL_connect
#define SSL_ctrl openssl.SSL_ctrl
#define SSL_free openssl.SSL_free
#define SSL_get1_peer_certificate openssl.SSL_get1_peer_certificate
#define SSL_get_rbio openssl.SSL_get_rbio
#define SSL_is_init_finished openssl.SSL_is_init_finished
#define SSL_new openssl.SSL_new
#define SSL_read openssl.SSL_read
#define SSL_set_accept_state openssl.SSL_set_accept_state
#define SSL_set_bio openssl.SSL_set_bio
#define SSL_set_connect_state openssl.SSL_set_connect_state
#define SSL_shutdown openssl.SSL_shutdown
#define SSL_write openssl.SSL_write
#define TLS_client_method openssl.TLS_client_method
#define TLS_server_method openssl.TLS_server_method
#define X509V3_EXT_conf_nid openssl.X509V3_EXT_conf_nid
#define X509V3_set_ctx openssl.X509V3_set_ctx
#define X509_EXTENSION_free openssl.X509_EXTENSION_free
#define X509_NAME_add_entry_by_txt openssl.X509_NAME_add_entry_by_txt
#define X509_NAME_oneline openssl.X509_NAME_oneline
#define X509_add_ext openssl.X509_add_ext
#define X509_free openssl.X509_free
#define X509_get_serialNumber openssl.X509_get_serialNumber
#define X509_get_subject_name openssl.X509_get_subject_name
#define X509_getm_notAfter openssl.X509_getm_notAfter
#define X509_getm_notBefore openssl.X509_getm_notBefore
#define X509_gmtime_adj openssl.X509_gmtime_adj
#define X509_new openssl.X509_new
#define X509_set_issuer_name openssl.X509_set_issuer_name
#define X509_set_pubkey openssl.X509_set_pubkey
#define X509_set_version openssl.X509_set_version
#define X509_sign openssl.X509_sign
#endif

#endif
