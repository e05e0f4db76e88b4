// Array.prototype.join and toLocaleString (core/engine/duktape/47-join.patch): the texts of
// the elements go one after the other into one growing buffer, each copied once. The
// engine joined every 4096 elements onto the text made so far, copying it again each time,
// so that the time grew with the square of the result (a 64 MB text of a million parts
// took seconds). Included at the end of unit.cpp.

// [ sep ToObject(this) len ] -> [ sep ToObject(this) len buffer text ]
duk_ret_t duk_host_array_join(duk_hthread* thr, duk_uint32_t len,
                              duk_small_int_t to_locale_string) {
    duk_hstring* sep = duk_known_hstring(thr, 0);
    duk_bufwriter_ctx bw;
    DUK_BW_INIT_PUSHBUF(thr, &bw, 0);
    for (duk_uint32_t idx = 0; idx < len; idx++) {
        if (idx > 0) DUK_BW_WRITE_ENSURE_HSTRING(thr, &bw, sep);
        duk_get_prop_index(thr, 1, static_cast<duk_uarridx_t>(idx));
        if (!duk_is_null_or_undefined(thr, -1)) {
            if (to_locale_string) {
                duk_to_object(thr, -1);
                duk_get_prop_stridx_short(thr, -1, DUK_STRIDX_TO_LOCALE_STRING);
                duk_insert(thr, -2); // [ ... toLocaleString ToObject(val) ]
                duk_call_method(thr, 0);
            }
            duk_to_string(thr, -1);
            DUK_BW_WRITE_ENSURE_HSTRING(thr, &bw, duk_known_hstring(thr, -1));
        }
        duk_pop(thr);
    }
    DUK_BW_PUSH_AS_STRING(thr, &bw);
    return 1;
}
