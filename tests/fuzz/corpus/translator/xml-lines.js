var doc = <config>
  <server port="8080"
          host={host}/>
  <users>{[<user name={u}/> for each (u in list)]}</users>
</config>;
f(doc..user.(@name != "root"), <>
</>, y <z, a < b);
